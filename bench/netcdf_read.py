#!/usr/bin/python3
"""Reads one day's map or one cell's whole series, as a user's script would,
from a NetCDF file (netCDF4, as xarray does) or from the monthly files
(numpy), and prints the seconds the reading took, Python's start aside.

    netcdf_read.py map|series FILE.nc|OUTPUT_DIR DAY COLUMN,ROW

DAY counts from 0 over the term; COLUMN and ROW count from 1, row 1 south.
For the monthly files the term is every YYYYMM_dailyDischarge.bin of
OUTPUT_DIR in order, of 365-day years, and the grid's size is taken from
../param.dat's second line.
"""
import glob
import os
import sys
import time

import numpy

what, path, day, cell = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
column, row = (int(part) for part in cell.split(","))
DAYS = {1: 31, 2: 28, 3: 31, 4: 30, 5: 31, 6: 30, 7: 31, 8: 31, 9: 30, 10: 31, 11: 30, 12: 31}

start = time.perf_counter()
if path.endswith(".nc"):
    import netCDF4

    start = time.perf_counter()
    dataset = netCDF4.Dataset(path)
    dataset.set_auto_mask(False)
    discharge = dataset["discharge"]
    values = discharge[day, :, :] if what == "map" else discharge[:, row - 1, column - 1]
else:
    with open(os.path.join(path, "..", "param.dat")) as param:
        ncols, nrows = (int(word) for word in param.readlines()[1].split()[:2])
    cells = ncols * nrows
    months = sorted(glob.glob(os.path.join(path, "[0-9]" * 6 + "_dailyDischarge.bin")))
    if what == "map":
        for name in months:
            days = DAYS[int(os.path.basename(name)[4:6])]
            if day < days:
                values = numpy.fromfile(name, dtype="<f4", count=cells, offset=day * cells * 4)
                break
            day -= days
    else:
        parts = []
        for name in months:
            days = DAYS[int(os.path.basename(name)[4:6])]
            grids = numpy.memmap(name, dtype="<f4", mode="r", shape=(days, nrows, ncols))
            parts.append(numpy.array(grids[:, row - 1, column - 1]))
        values = numpy.concatenate(parts)
print(f"{time.perf_counter() - start:.4f} {values.size}")
