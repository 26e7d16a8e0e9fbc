#!/usr/bin/python3
"""Writes image_renderer/palette_tables.cpp: the viridis and cividis colour
maps as matplotlib publishes them, 256 entries each, in the 8-bit colours
matplotlib itself draws them in (a colour map called with bytes=True).

The tables are data: they are generated once with this script and kept in
the tree, and tests/palette_check.py checks them against the matplotlib
installed (Debian's python3-matplotlib).

    tools/make_palette_tables.py > image_renderer/palette_tables.cpp
"""
from matplotlib import colormaps

PALETTES = ("viridis", "cividis")


def table_lines(name):
    colour_map = colormaps[name]
    assert colour_map.N == 256, name
    entries = [colour_map(level, bytes=True)[:3] for level in range(256)]
    lines = []
    for start in range(0, 256, 4):
        row = " ".join("{%d, %d, %d}," % tuple(int(c) for c in entry)
                       for entry in entries[start:start + 4])
        lines.append("    " + row)
    return lines


def main():
    import matplotlib
    out = [
        "// The colour maps viridis and cividis, 256 entries each, in the 8-bit",
        "// colours matplotlib %s draws them in. Written by" % matplotlib.__version__,
        "// tools/make_palette_tables.py: do not edit.",
        '#include "colour_table.h"',
        "",
    ]
    for name in PALETTES:
        # Declared extern first: a const object at namespace scope is local
        # to its file otherwise.
        out.append("extern const std::array<Rgb, 256> %s_COLOURS;" % name.upper())
        out.append("const std::array<Rgb, 256> %s_COLOURS = {{" % name.upper())
        out.extend(table_lines(name))
        out.append("}};")
        out.append("")
    print("\n".join(out).rstrip("\n"))


if __name__ == "__main__":
    main()
