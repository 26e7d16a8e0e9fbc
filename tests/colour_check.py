#!/usr/bin/python3
"""The colours of `discharge_term images`, worked out independently of the
program: every cell's level from the monthly file read with numpy, under each
stretch (sqrt, linear, log) and range (the month's own, a typed one), and its
colour in each palette (classic from its formula, viridis and cividis from
Debian's matplotlib, not from the program's table), against every pixel of
every day's PNG image as Pillow decodes it. First on the sample run's first
month, then on a small run of hand-made values at the edges of the ranges:
exactly the minimum and the maximum, just above it, zero under the log
stretch, negative, not a number, infinite, and minima above 10000.

    colour_check.py DISCHARGE_TERM MAKE_SAMPLE_RUN

Exits 0 when every pixel matches, 1 on any difference, 77 (skipped) where
numpy, Pillow or matplotlib is missing.
"""

import math
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    from PIL import Image
    import matplotlib
except ImportError as missing:
    print(f"skipped: {missing.name} (Debian's python3-{missing.name.lower()}) is not installed")
    sys.exit(77)

TERM, MAKE_SAMPLE_RUN = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
PNGCHECK = "/usr/bin/pngcheck"
DAYS = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
NONE, ABOVE = 256, 257  # colour indices after the levels 0 to 255
failures = 0


def fail(text):
    global failures
    failures += 1
    print("FAIL: " + text)


def palette(name):
    """The 258 colours: levels 0 to 255, no discharge, above the range."""
    if name == "classic":
        # blue -> cyan -> green -> yellow -> red, the brightest channel 252
        ramp = [(0, 4 * L, 252) if L < 64 else (0, 252, 508 - 4 * L) if L < 128 else
                (4 * L - 512, 252, 0) if L < 192 else (252, 1020 - 4 * L, 0) for L in range(256)]
        return np.array(ramp + [(0, 0, 0), (252, 252, 0)], dtype=np.uint8)
    ramp = matplotlib.colormaps[name](np.arange(256), bytes=True)[:, :3]
    return np.vstack([ramp, [(204, 204, 204), (255, 0, 255)]]).astype(np.uint8)


def found_range(values, stretch):
    """The range discharge_image finds: the extremes of the non-negative
    values (NaN is not counted), the search starting from a maximum of -1
    and a minimum of 10000, so the minimum is never above 10000. A log
    stretch cannot begin at 0: it takes the smallest value above 0."""
    counted = values[values >= 0]
    low = min(np.float32(10000), counted.min(initial=np.inf))
    high = max(np.float32(-1), counted.max(initial=-np.inf))
    if stretch == "log" and not low > 0:
        low = values[values > 0].min()
    return np.float32(low), np.float32(high)


def natural_log(values):
    """ln of each value by the C library (what the program calls), one call
    per distinct value; ln 0 is minus infinity, a negative value's NaN."""
    distinct, where = np.unique(values, return_inverse=True)
    logs = [-math.inf if v == 0 else math.nan if v < 0 else math.log(v) for v in distinct.tolist()]
    return np.array(logs)[where].reshape(values.shape)


def colour_indices(values, low, high, stretch):
    """Each cell's colour index: its level 0 to 255, ABOVE over 255, NONE for
    no discharge (negative), for a level that is no 32-bit number (NaN: not
    a number, below the minimum, zero under log; infinite or beyond 2^31:
    the program's documented limit of yellow) and for the masked ring."""
    with np.errstate(all="ignore"):
        if stretch == "sqrt":  # single precision up to the square root
            position = (values - low) / (high - low)
            scaled = np.sqrt(position).astype(np.float64) * 255.0
        elif stretch == "linear":
            v, lo, hi = values.astype(np.float64), np.float64(low), np.float64(high)
            scaled = (v - lo) / (hi - lo) * 255.0
        else:
            lo, hi = math.log(float(low)), math.log(float(high))
            scaled = (natural_log(values) - lo) / (hi - lo) * 255.0
        placeable = (scaled >= 0.0) & (scaled < 2147483648.0)
        level = np.where(placeable, scaled, 0.0).astype(np.int64)
    index = np.where(level > 255, ABOVE, level)
    index[~placeable | (values < 0)] = NONE
    # The ring: the second row and column in from each edge.
    index[:, [1, -2], :] = NONE
    index[:, :, [1, -2]] = NONE
    return index


def run(args, cwd, status=0):
    done = subprocess.run([TERM] + args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != status:
        fail(f"discharge_term {' '.join(args)}: status {done.returncode}, not {status}\n"
             + done.stderr)
    return done


def check_images(output, month, stretch, pal, range_option, known=None):
    """Draws the month and compares every pixel; `known` maps values to the
    colour index that their place in the range gives them, checked too."""
    year, mon = divmod(month, 100)
    text = f"{year:04d}-{mon:02d}"
    args = ["--from", text, "--to", text, "images", "--format", "png", "--scale", "1",
            "--stretch", stretch, "--palette", pal] + ["--range", range_option] * bool(range_option)
    label = f"{month} {stretch:6} {pal:7} --range {range_option or 'term (default)'}"
    failures_before = failures
    if run(args, output).returncode != 0:
        return
    words = open(os.path.join(output, "../param.dat")).read().split()
    ncols, nrows = int(words[1]), int(words[2])
    days = DAYS[mon - 1]
    values = np.fromfile(os.path.join(output, f"{month}_dailyDischarge.bin"), dtype="<f4")
    values = values[:days * nrows * ncols].reshape(days, nrows, ncols)
    if range_option in (None, "month"):  # one month: its own range is the term's
        low, high = found_range(values, stretch)
    else:
        low, high = (np.float32(x) for x in range_option.split(","))
    image_dir = os.path.join(output, "image")
    recorded = open(os.path.join(image_dir, f"{month}_range.txt")).readline().strip()
    if tuple(np.float32(x) for x in recorded.split(",")) != (low, high):
        fail(f"{label}: range recorded {recorded}, computed {low!r},{high!r}")
        return
    index = colour_indices(values, low, high, stretch)
    for value, expected in (known or {}).items():
        cells = np.isnan(values) if math.isnan(value) else values == np.float32(value)
        cells[:, [1, -2], :] = cells[:, :, [1, -2]] = False
        if not cells.any() or (index[cells] != expected).any():
            fail(f"{label}: value {value!r} does not have colour index {expected} in the check")
    # North at the top: the last stored row is the first pixel row.
    expected = palette(pal)[index[:, ::-1, :]]
    pngs = [os.path.join(image_dir, f"{month}_{d:4d}_discharge.png") for d in range(1, days + 1)]
    shown = []
    for day, path in enumerate(pngs, 1):
        with Image.open(path) as image:
            got = np.asarray(image.convert("RGB"))
        if got.shape != (nrows, ncols, 3):
            fail(f"{label}: {path} is {got.shape}, not {nrows} x {ncols}")
            return
        for y, x in np.argwhere((got != expected[day - 1]).any(axis=2))[:5 - len(shown)]:
            row = nrows - y  # counted from 1 in the south, as the programs count
            shown.append(f"  day {day} column {x + 1} row {row}: value "
                         f"{values[day - 1, row - 1, x]!r}, expected "
                         f"{tuple(expected[day - 1, y, x])}, got {tuple(got[y, x])}")
    if shown:
        fail(f"{label}: pixels differ:\n" + "\n".join(shown))
        return
    legend = os.path.join(image_dir, f"legend_{month}.png")
    if not os.path.isfile(legend) or Image.open(legend).size != (707, 74):
        fail(f"{label}: no legend of 707 x 74 pixels at {legend}")
    if os.access(PNGCHECK, os.X_OK):
        checked = subprocess.run([PNGCHECK, "-q"] + pngs + [legend], capture_output=True,
                                 text=True)
        if checked.returncode != 0:
            fail(f"{label}: pngcheck: {checked.stdout}{checked.stderr}")
    kept = index[:, 2:-2, 2:-2]  # inside the ring
    if range_option not in (None, "month") and not (
            (kept == ABOVE).any() and ((values >= 0) & (values < low)).any()):
        fail(f"{label}: the typed range leaves no value above it or none below it")
    print(f"{'ok' if failures == failures_before else 'FAIL'}: {label}: {days} days, range "
          f"{low!r},{high!r}, levels {kept[kept < 256].min()} to {kept[kept < 256].max()}, "
          f"{(kept == NONE).sum()} none, {(kept == ABOVE).sum()} above")


# Values whose sqrt level under the range 1 to 100 is one level off (up or
# down) where the position and its square root are taken in double
# precision rather than in single precision, as the program takes them.
SINGLE_PRECISION_EDGES = [1.6089965, 1.951557, 2.76, 3.3157094, 3.435986, 3.6856747]


def hand_made_run(root):
    """A run of 10 x 8 cells from 2021-01 to 2021-03. January: zero (and
    -0), negatives, NaN, the ramp's values; February: every value at least
    20000, so its minimum is 10000; March: also infinite and huge values."""
    ncols, nrows = 10, 8
    output = os.path.join(root, "output")
    os.makedirs(output)
    with open(os.path.join(root, "param.dat"), "w") as param:
        param.write(f"2\n{ncols} {nrows}\n135.5 34.25\n400 300\n12 7\n135.004166\n34.0041666\n"
                    "3600\n2021 2021 1 3\n")
    f32 = np.float32
    edges = [0.0, -999.0, -0.0, -1e-30, np.nan, -np.inf, 0.5, 1.0, np.nextafter(f32(1), f32(0)),
             np.nextafter(f32(1), f32(2)), 100.0, np.nextafter(f32(100), f32(200)), 99.99, 150.0]
    ramp = list(np.geomspace(0.01, 3000.0, 66).astype(np.float32))
    pools = {1: edges + ramp, 2: [-999.0] + [20000.0 * 1.1 ** k for k in range(40)],
             3: edges + ramp + [np.inf, 1e10, 3e38] + SINGLE_PRECISION_EDGES}
    for mon, pool in pools.items():
        pool = np.array(pool, dtype=np.float32)
        cells = np.arange(nrows * ncols)
        grids = [pool[(cells * 7 + day * 13) % len(pool)] for day in range(DAYS[mon - 1])]
        np.array(grids, dtype="<f4").tofile(os.path.join(output, f"2021{mon:02d}"
                                                         "_dailyDischarge.bin"))
    return output


def main(work):
    made = subprocess.run([MAKE_SAMPLE_RUN, os.path.join(work, "sample")], capture_output=True)
    if made.returncode != 0:
        fail(f"make_sample_run: status {made.returncode}\n{made.stderr.decode()}")
        return
    output = os.path.join(work, "sample", "output")
    words = open(os.path.join(output, "../param.dat")).read().split()
    first = int(words[12]) * 100 + int(words[14])  # start year and month
    # The same ./image/ throughout: a month drawn before in other colours
    # must be drawn again, and the pixels show if it was not.
    for stretch in ("sqrt", "linear", "log"):
        for pal in ("classic", "viridis", "cividis"):
            check_images(output, first, stretch, pal, None)
    check_images(output, first, "sqrt", "classic", "month")
    # A typed range within the data's: values below it and above it.
    for stretch, pal in (("sqrt", "classic"), ("linear", "viridis"), ("log", "cividis")):
        check_images(output, first, stretch, pal, "1,1000")

    hand = hand_made_run(os.path.join(work, "hand"))
    f32 = np.float32
    next_up = float(np.nextafter(f32(100), f32(200)))
    # January's range: from 0, or for log from the smallest value above 0.
    least, top = f32(0.01), np.geomspace(0.01, 3000.0, 66).astype(np.float32)[-1]
    for stretch, start in (("sqrt", 0.0), ("log", least)):
        expected = f"{float(start):.9g},{float(top):.9g}"
        printed = run(["--from", "2021-01", "--to", "2021-01", "range", "--stretch", stretch], hand)
        note = "minimum is 0" in printed.stderr
        if printed.stdout.strip() != expected or note != (stretch == "log"):
            fail(f"range --stretch {stretch}: printed {printed.stdout.strip()!r}, not {expected!r};"
                 f" stderr {printed.stderr!r}")
    month_known = {"sqrt": {0.0: 0, float(top): 255, -1e-30: NONE, float("nan"): NONE},
                   "log": {0.0: NONE, float(least): 0, float(top): 255}}
    month_known["linear"] = month_known["sqrt"]
    for stretch, pal in (("sqrt", "viridis"), ("linear", "classic"), ("log", "cividis")):
        check_images(hand, 202101, stretch, pal, "month", month_known[stretch])
    printed = run(["--from", "2021-02", "--to", "2021-02", "range"], hand)
    if printed.stdout.strip().split(",")[0] != "10000":
        fail(f"range of values all above 10000: {printed.stdout.strip()}, not from 10000")
    check_images(hand, 202102, "linear", "viridis", "month", {float(f32(20000 * 1.1 ** 39)): 255})
    # 1 to 100 typed: its ends; just above the maximum, still red (level
    # 255 reaches up to where 256 would begin); well above it; below it; and
    # levels that are no 32-bit number (drawn as no discharge, as documented).
    typed = {1.0: 0, 100.0: 255, next_up: 255, 150.0: ABOVE, 0.5: NONE, 0.0: NONE,
             -999.0: NONE, float("nan"): NONE, float("inf"): NONE, 3e38: NONE}
    for stretch, pal in (("sqrt", "classic"), ("linear", "viridis"), ("log", "cividis")):
        known = dict(typed)
        known[1e10] = NONE if stretch == "linear" else ABOVE
        if stretch == "log":
            known[float(f32(3e38))] = ABOVE  # ln 3e38 is only 19 times ln 100
        known = {float(f32(v)): i for v, i in known.items()}
        check_images(hand, 202103, stretch, pal, "1,100", known)

    refused = run(["--from", "2021-01", "--to", "2021-01", "images", "--stretch", "log",
                   "--range", "0,10"], hand, status=2)
    if "log" not in refused.stderr:
        fail(f"--stretch log --range 0,10: stderr {refused.stderr!r} does not say why")
    else:
        print("ok: --stretch log --range 0,10 refused with status 2: "
              + refused.stderr.splitlines()[0])


with tempfile.TemporaryDirectory(prefix="colour-check-") as work:
    main(work)
print("colour check: " + (f"{failures} failures" if failures else "every pixel as expected")
      + ("" if os.access(PNGCHECK, os.X_OK) else " (pngcheck not installed: not run)"))
sys.exit(1 if failures else 0)
