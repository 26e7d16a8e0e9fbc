#!/usr/bin/python3
"""Annotated frames and animations of `discharge_term`, checked from the
outside: the GIF of `animate` decoded by Pillow (and its blocks read by a
small parser of the GIF format written here), the annotated PNG and PPM
images of `images --annotate`, and the band's date read back by tesseract.
The map of each annotated frame must be exactly the plain PNG image of the
same day (`images --format png` in the same colours and at the same scale),
moved down by the band; what fills the map's rows out to the band's width
is the band's background; the GIF keeps time and loops forever; a rerun
that changes nothing is up to date, a change of units redraws; and a GIF
that cannot be written leaves nothing behind.

    animation_check.py DISCHARGE_TERM MAKE_SAMPLE_RUN

Works on the sample run's July 2019 (August too where the frames of an
animation cross a month's end). Exits 0 when all matches, 1 on any
difference, 77 (skipped) where numpy or Pillow is missing; the reading of
the band's text is left out, with a message, where tesseract is missing,
and pngcheck where it is missing.
"""

import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from fractions import Fraction

try:
    import numpy as np
    from PIL import Image
except ImportError as missing:
    print(f"skipped: {missing.name} (Debian's python3-{missing.name.lower()}) is not installed")
    sys.exit(77)

TERM, MAKE_SAMPLE_RUN = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
PNGCHECK = "/usr/bin/pngcheck"
TESSERACT = shutil.which("tesseract")
JULY = ["--from", "2019-07", "--to", "2019-07"]
JULY_AUGUST = ["--from", "2019-07", "--to", "2019-08"]

# The band's colours: background and ink. Classic draws black on white; the
# colour-blind palettes draw in their lowest colour (matplotlib's entry 0)
# on the light grey that is also their colour of no discharge.
WHITE, LIGHT_GREY = (255, 255, 255), (204, 204, 204)
BAND = {"classic": (WHITE, (0, 0, 0)), "viridis": (LIGHT_GREY, (68, 1, 84)),
        "cividis": (LIGHT_GREY, (0, 34, 77))}

failures = 0


class Check:
    """One check: its failures, each with its evidence, and the one line
    that sums it up at the end."""

    def __init__(self, label):
        self.label, self.problems = label, []

    def fail(self, text):
        global failures
        if not self.problems:
            failures += 1
        if len(self.problems) < 8:  # enough evidence, not a flood
            self.problems.append(text)

    def done(self, summary):
        if self.problems:
            print(f"FAIL: {self.label}: " + "\n  ".join(self.problems))
        else:
            print(f"ok: {self.label}: {summary}")


def run(check, args, cwd, status=0):
    done = subprocess.run([TERM] + args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != status:
        check.fail(f"discharge_term {' '.join(args)}: status {done.returncode}, not {status}; "
                   f"stdout {done.stdout!r}, stderr {done.stderr!r}")
    return done


def rgb(path):
    with Image.open(path) as image:
        return np.asarray(image.convert("RGB"))


def image_name(month, day, ext):
    return f"{month}_{day:4d}_discharge.{ext}"


def selection_days(months):
    """(month, day) of every day of the months, in order (no leap years here)."""
    lengths = {201907: 31, 201908: 31}
    return [(m, d) for m in months for d in range(1, lengths[m] + 1)]


def colours_of(pixels):
    return {tuple(c) for c in np.unique(pixels.reshape(-1, 3), axis=0).tolist()}


def first_differences(got, expected, origin=(0, 0), count=3):
    """Where two pixel arrays of one shape differ, the first few, as text."""
    where = np.argwhere((got != expected).any(axis=2))
    shown = [f"(x {x + origin[1]}, y {y + origin[0]}): {tuple(got[y, x].tolist())}, "
             f"expected {tuple(expected[y, x].tolist())}" for y, x in where[:count]]
    return f"{len(where)} pixels differ, first " + "; ".join(shown)


def gif_blocks(path):
    """The GIF's own account of itself, read block by block: its canvas, its
    loop count (NETSCAPE2.0) and per frame the delay in hundredths of a
    second, the rectangle, whether a colour is transparent, and the colour
    table the frame is drawn in (its local one, else the global one)."""
    data = open(path, "rb").read()
    if data[:6] != b"GIF89a":
        raise ValueError(f"begins with {data[:6]!r}, not GIF89a")
    width, height, packed = struct.unpack_from("<HHB", data, 6)
    at = 13
    global_table = None
    if packed & 0x80:
        size = 3 << ((packed & 7) + 1)
        global_table = [tuple(data[at + i:at + i + 3]) for i in range(0, size, 3)]
        at += size
    loop, frames, control = None, [], {}

    def sub_blocks(at):
        chunks = []
        while data[at]:
            chunks.append(data[at + 1:at + 1 + data[at]])
            at += 1 + data[at]
        return chunks, at + 1

    while True:
        kind = data[at]
        if kind == 0x3B:  # trailer
            break
        if kind == 0x21:
            label = data[at + 1]
            chunks, at = sub_blocks(at + 2)
            if label == 0xF9:  # graphic control: disposal, delay, transparency
                flags, delay, _ = struct.unpack("<BHB", chunks[0])
                control = {"delay": delay, "transparent": bool(flags & 1)}
            elif label == 0xFF and chunks[0] == b"NETSCAPE2.0" and chunks[1][0] == 1:
                loop = struct.unpack("<H", chunks[1][1:3])[0]
        elif kind == 0x2C:
            left, top, w, h, flags = struct.unpack_from("<HHHHB", data, at + 1)
            at += 10
            table = global_table
            if flags & 0x80:
                size = 3 << ((flags & 7) + 1)
                table = [tuple(data[at + i:at + i + 3]) for i in range(0, size, 3)]
                at += size
            _, at = sub_blocks(at + 1)  # past the LZW code size and the data
            frames.append(dict(control, rect=(left, top, w, h), table=table))
            control = {}
        else:
            raise ValueError(f"unknown block 0x{kind:02x} at byte {at}")
    return (width, height), loop, frames


def gif_frames(path):
    """Every frame as Pillow composes it (RGB) and its duration in ms."""
    frames, durations = [], []
    with Image.open(path) as gif:
        info = {"loop": gif.info.get("loop"), "size": gif.size, "n": gif.n_frames}
        for k in range(gif.n_frames):
            gif.seek(k)
            durations.append(gif.info.get("duration"))
            frames.append(np.asarray(gif.convert("RGB")))
    return info, frames, durations


def half_down(value):
    """The nearest whole number, a half rounded down."""
    whole = value.numerator // value.denominator
    return whole + 1 if value - whole > Fraction(1, 2) else whole


def band_crop(frame, background, line="date"):
    """The first line of the band's text, cut out with a margin: the date (in
    the left half of the band) or the units (in the right half): the first
    run of rows that hold any ink there."""
    width = frame.shape[1]
    half = frame[:, :width // 2] if line == "date" else frame[:, width // 2:]
    inked = (half != background).any(axis=2)
    rows = inked.any(axis=1)
    top = int(np.argmax(rows))
    end = top
    while end < len(rows) and rows[end]:
        end += 1
    columns = np.flatnonzero(inked[top:end].any(axis=0))
    left, right = columns[0], columns[-1] + 1
    if line != "date":
        left, right = left + width // 2, right + width // 2
    margin = 6
    return frame[max(0, top - margin):end + margin, max(0, left - margin):right + margin]


def read_text(crop, work):
    """What tesseract reads in the crop as one line, as drawn and scaled up
    three times (small text may read only so), its whitespace made single
    spaces: [(how, text)]."""
    picture = Image.fromarray(crop)
    tries = []
    for how, image in (("as drawn", picture),
                       ("3x", picture.resize((picture.width * 3, picture.height * 3),
                                             Image.LANCZOS))):
        path = os.path.join(work, "ocr.png")
        image.save(path)
        done = subprocess.run([TESSERACT, path, "stdout", "--psm", "7"], capture_output=True,
                              text=True)
        tries.append((how, " ".join(done.stdout.split())))
    return tries


# The dates read back from the bands, one check of its own: what was read,
# and how ("as drawn" or scaled up "3x").
READING = Check("4 dates read back by tesseract")
read_back = []


def read_date(frame, background, want, work, what):
    """Reads the band's date and compares it with `want`, whitespace aside."""
    tries = read_text(band_crop(frame, background), work)
    for how, text in tries:
        if text.replace(" ", "") == want.replace(" ", ""):
            read_back.append((what, want, (how, tries[0][1])))
            return
    READING.fail(f"{what}: tesseract reads {tries}, not {want!r}")


class Run:
    """The sample run: its output directory, grid, and the images drawn."""

    def __init__(self, work):
        self.work = work
        made = subprocess.run([MAKE_SAMPLE_RUN, os.path.join(work, "run")], capture_output=True,
                              text=True)
        if made.returncode != 0:
            print(f"FAIL: make_sample_run: status {made.returncode}\n{made.stderr}")
            sys.exit(1)
        self.output = os.path.join(work, "run", "output")
        words = open(os.path.join(work, "run", "param.dat")).read().split()
        self.ncols, self.nrows = int(words[1]), int(words[2])
        self.kept = {}

    def draw(self, check, name, selection, options):
        """`images` with `options` into ./image/, its images then copied to
        a directory of their own, kept as `name` (the next run with other
        options redraws ./image/)."""
        done = run(check, selection + ["images"] + options, self.output)
        target = os.path.join(self.work, name)
        shutil.copytree(os.path.join(self.output, "image"), target)
        self.kept[name] = target
        return done

    def image(self, check, name, month, day, ext="png"):
        """The pixels of a day's image kept as `name`; None, failing
        `check`, where the program left none."""
        path = os.path.join(self.kept[name], image_name(month, day, ext))
        if not os.path.isfile(path):
            check.fail(f"no image {path}")
            return None
        return rgb(path)


def compare_frame(check, what, frame, plain, background):
    """An annotated frame against the plain image of its day: the map at the
    band's foot, then the background to the right. Returns the band's height
    (None where the frame cannot hold the map)."""
    map_height, map_width = plain.shape[:2]
    height, width = frame.shape[:2]
    if height <= map_height or width < map_width:
        check.fail(f"{what}: frame {width} x {height} does not hold a band above the map of "
                   f"{map_width} x {map_height}")
        return None
    band_height = height - map_height
    shown = frame[band_height:, :map_width]
    if not np.array_equal(shown, plain):
        outside = colours_of(shown) - colours_of(plain)
        check.fail(f"{what}: map differs from the plain image: "
                   + first_differences(shown, plain, (band_height, 0))
                   + (f"; colours not in the plain image: {sorted(outside)[:4]}" if outside
                      else ""))
    filled = frame[band_height:, map_width:]
    if filled.size and not (filled == background).all():
        check.fail(f"{what}: the {width - map_width} columns right of the map are not all "
                   f"{background}: " + first_differences(
                       filled, np.broadcast_to(np.array(background, np.uint8), filled.shape),
                       (band_height, map_width)))
    if tuple(frame[0, 0].tolist()) != background:
        check.fail(f"{what}: the band's corner is {tuple(frame[0, 0].tolist())}, not the "
                   f"background {background}")
    return band_height


def check_gif(sample, label, selection, months, options, every, fps, scale, palette,
              plain_name, annotated_name, ocr_frames):
    """The GIF of `animate selection options`, by Pillow and by its blocks,
    against the plain and the annotated PNG images of its days."""
    check = Check(label)
    first, last = months[0], months[-1]
    path = os.path.join(sample.output, f"{first}-{last}_discharge.gif")
    if os.path.exists(path):
        os.remove(path)
    done = run(check, selection + ["animate"] + options, sample.output)
    if done.returncode != 0:
        return check.done("")
    days = selection_days(months)[::every]
    background, ink = BAND[palette]
    info, frames, durations = gif_frames(path)
    canvas, loop, blocks = gif_blocks(path)
    told = re.search(r"(\d+) frames of (\d+) x (\d+) pixels", done.stderr)
    if info["n"] != len(days) or len(blocks) != len(days):
        check.fail(f"{info['n']} frames by Pillow, {len(blocks)} image blocks, not {len(days)}")
    if not told or (int(told[1]), int(told[2]), int(told[3])) != (len(days),) + canvas:
        check.fail(f"the program reports {done.stderr.strip()!r}, the file holds "
                   f"{len(blocks)} frames of {canvas[0]} x {canvas[1]}")
    if info["loop"] != 0 or loop != 0:
        check.fail(f"loop count {info['loop']} (Pillow), {loop} (NETSCAPE2.0), not 0 (forever)")
    # GIF counts time in hundredths: the delays up to and including frame k
    # add up to 100 (k + 1) / fps rounded to the nearest hundredth, a half
    # down, so that a long animation keeps time; each delay is then the
    # whole hundredths just below or just above 100 / fps.
    rate = Fraction(fps)
    shortest = (100 * rate.denominator) // rate.numerator
    longest = -(-100 * rate.denominator // rate.numerator)
    total = 0
    for k, block in enumerate(blocks):
        total += block.get("delay", 0)
        if block.get("delay", 0) not in (shortest, longest):
            check.fail(f"frame {k + 1}: delay {block.get('delay')} hundredths, not {shortest} or "
                       f"{longest}")
        if total != half_down(100 * (k + 1) / rate):
            check.fail(f"frames 1 to {k + 1} last {total} hundredths, not "
                       f"{half_down(100 * (k + 1) / rate)} = 100 x {k + 1} / {fps} a half down")
            break
    if durations != [10 * b.get("delay", 0) for b in blocks]:
        check.fail(f"Pillow's durations {durations[:6]}... are not 10 x the delays "
                   f"{[b.get('delay') for b in blocks][:6]}...")
    if sum(durations) != 10 * half_down(100 * len(days) / rate):
        check.fail(f"the frames last {sum(durations)} ms in all, not "
                   f"{10 * half_down(100 * len(days) / rate)}")

    band_height, whole_frames, table_sizes = None, 0, set()
    for k, (frame, block, (month, day)) in enumerate(zip(frames, blocks, days)):
        what = f"frame {k + 1} ({month} day {day})"
        if frame.shape[:2] != (canvas[1], canvas[0]):
            check.fail(f"{what}: {frame.shape[1]} x {frame.shape[0]}, not the canvas {canvas}")
            continue
        plain = sample.image(check, plain_name, month, day)
        if plain is None:
            continue
        if plain.shape[:2] != (sample.nrows * scale, sample.ncols * scale):
            check.fail(f"{what}: the plain image is {plain.shape[1]} x {plain.shape[0]}, not "
                       f"the grid's {sample.ncols} x {sample.nrows} at scale {scale}")
            continue
        height = compare_frame(check, what, frame, plain, background)
        if height is None:
            continue
        if band_height is None:
            band_height = height
        # The frame's colours are those of its table (GIF holds no others);
        # where it is a whole frame without transparency, all its pixels.
        table = set(block["table"] or [])
        table_sizes.add(len(block["table"] or []))
        if len(block["table"] or []) > 256:
            check.fail(f"{what}: a colour table of {len(block['table'])} entries")
        if block["rect"] == (0, 0) + canvas and not block.get("transparent"):
            whole_frames += 1
            outside = colours_of(frame) - table
            if outside:
                check.fail(f"{what}: colours outside its table: {sorted(outside)[:4]}")
        # The band against the annotated PNG of the day: the same pixels,
        # but where the PNG's text blends ink into background in a colour
        # the frame's table does not hold, the GIF has the nearer of the two
        # (either one where they are as near).
        annotated = sample.image(check, annotated_name, month, day)
        if annotated is None:
            continue
        if annotated.shape != frame.shape:
            check.fail(f"{what}: {frame.shape[1]} x {frame.shape[0]}, the annotated PNG "
                       f"{annotated.shape[1]} x {annotated.shape[0]}")
            continue
        gif_band, png_band = frame[:height].astype(int), annotated[:height].astype(int)
        blended = ~np.isin(png_band.reshape(-1, 3) @ [65536, 256, 1],
                           [r * 65536 + g * 256 + b for r, g, b in table]).reshape(height, -1)
        to_background = ((png_band - background) ** 2).sum(axis=2)
        to_ink = ((png_band - ink) ** 2).sum(axis=2)
        is_background = (gif_band == background).all(axis=2)
        is_ink = (gif_band == ink).all(axis=2)
        right = np.where(blended,
                         (is_background & (to_background <= to_ink))
                         | (is_ink & (to_ink <= to_background)),
                         (gif_band == png_band).all(axis=2))
        if not right.all():
            y, x = np.argwhere(~right)[0]
            check.fail(f"{what}: {(~right).sum()} band pixels differ from the annotated PNG's, "
                       f"first (x {x}, y {y}): GIF {tuple(gif_band[y, x])}, PNG "
                       f"{tuple(png_band[y, x])}")
    if TESSERACT:
        for k in ocr_frames:
            month, day = days[k]
            read_date(frames[k], background, f"{month // 100}-{month % 100:02d}-{day:02d}",
                      sample.work, f"GIF {label[:2]} frame {k + 1}")
    delays = sorted({b.get("delay") for b in blocks})
    check.done(f"{len(blocks)} frames of {canvas[0]} x {canvas[1]} (band {band_height} rows), "
               f"delays {'/'.join(str(10 * d) for d in delays)} ms, {sum(durations)} ms in all, "
               f"loops forever, maps = plain PNGs, bands = annotated PNGs' (text in ink or "
               f"background), {whole_frames} whole opaque frames in their tables of "
               f"{'/'.join(map(str, sorted(table_sizes)))} entries")


def check_annotated(sample, label, palette, plain_name, annotated_name, ocr_days):
    """The annotated PNG images against the plain ones, pngcheck and OCR."""
    check = Check(label)
    background, _ = BAND[palette]
    directory = sample.kept[annotated_name]
    sizes, maps, band_heights = set(), set(), set()
    for month, day in selection_days([201907]):
        frame = sample.image(check, annotated_name, month, day)
        plain = sample.image(check, plain_name, month, day)
        if frame is None or plain is None:
            continue
        sizes.add(frame.shape[:2])
        maps.add(plain.shape[:2])
        band_heights.add(compare_frame(check, f"day {day}", frame, plain, background))
        if TESSERACT and day in ocr_days:
            read_date(frame, background, f"2019-07-{day:02d}", sample.work,
                      f"PNG {label[:2]} day {day}")
    if len(sizes) != 1:
        check.fail(f"the days' frames differ in size: {sorted(sizes)}")
    checked = ""
    if os.access(PNGCHECK, os.X_OK):
        pngs = [os.path.join(directory, image_name(201907, d, "png")) for d in range(1, 32)]
        done = subprocess.run([PNGCHECK, "-q"] + pngs, capture_output=True, text=True)
        if done.returncode != 0:
            check.fail(f"pngcheck: {done.stdout}{done.stderr}")
        checked = ", pngcheck passes"
    if check.problems:
        return check.done("")
    (height, width), (map_height, map_width) = sizes.pop(), maps.pop()
    check.done(f"31 frames of {width} x {height}: band {band_heights.pop()} rows above the map "
               f"of {map_width} x {map_height} = plain PNG, {width - map_width} columns filled "
               f"with {background}{checked}")


def check_ppm(sample, label, png_name, ppm_name):
    """The annotated PPM images, pixel for pixel the annotated PNG ones."""
    check = Check(label)
    sizes = set()
    for month, day in selection_days([201907]):
        ppm = sample.image(check, ppm_name, month, day, "ppm")
        png = sample.image(check, png_name, month, day)
        if ppm is None or png is None:
            continue
        sizes.add(f"{png.shape[1]} x {png.shape[0]}")
        if ppm.shape != png.shape:
            check.fail(f"day {day}: PPM {ppm.shape[1]} x {ppm.shape[0]}, PNG {png.shape[1]} x "
                       f"{png.shape[0]}")
        elif not np.array_equal(ppm, png):
            check.fail(f"day {day}: PPM against PNG: " + first_differences(ppm, png))
    check.done(f"31 annotated PPM images = the annotated PNG ones ({', '.join(sorted(sizes))})")


def recorded(sample):
    return open(os.path.join(sample.output, "image", "201907_range.txt")).read().splitlines()


def check_resuming(sample):
    """Up to date when nothing changed; redrawn when the annotation did."""
    check = Check("5 resuming")
    told = []

    def expect(options, drawn, what):
        done = run(check, JULY + ["images"] + options, sample.output)
        said = "31 images drawn" if drawn else "201907: up to date"
        if said not in done.stderr:
            check.fail(f"{what}: `images {' '.join(options)}` says {done.stderr.strip()!r}, "
                       f"not {said!r}")
        told.append(("drawn" if drawn else "up to date"))
        return done

    def lines_with(word):
        return [line for line in recorded(sample) if line.split(" ")[0] == word]

    # ./image/ holds the annotated PPM images of the default options.
    expect(["--annotate"], False, "a second annotated run")
    if lines_with("annotation") != ["annotation m3 s-1"]:
        check.fail(f"record's annotation {lines_with('annotation')}, not ['annotation m3 s-1']")
    before = rgb(os.path.join(sample.output, "image", image_name(201907, 12, "ppm")))
    expect(["--annotate", "--units", "mm d-1"], True, "other units")
    if lines_with("annotation") != ["annotation mm d-1"]:
        check.fail(f"record's annotation {lines_with('annotation')}, not ['annotation mm d-1']")
    after = rgb(os.path.join(sample.output, "image", image_name(201907, 12, "ppm")))
    ocr = ""
    if before.shape != after.shape:
        check.fail(f"frame {before.shape} became {after.shape} with other units")
    else:
        band_height = before.shape[0] - sample.nrows * 5
        if np.array_equal(before[:band_height], after[:band_height]):
            check.fail("the band of day 12 is the same with units mm d-1 as with m3 s-1")
        if not np.array_equal(before[band_height:], after[band_height:]):
            check.fail("the map of day 12 changed with the units: "
                       + first_differences(after[band_height:], before[band_height:]))
        if TESSERACT:
            tries = read_text(band_crop(after, WHITE, "units"), sample.work)
            ocr = f"; OCR of the units line: {tries[0][1]!r} ({tries[0][0]})"
            if not any(text.replace(" ", "") == "discharge,mmd-1" for _, text in tries):
                ocr = f"; OCR of the units line (not compared): {tries}"
    expect(["--annotate", "--units", "mm d-1"], False, "the same units again")
    # Plain again: the record's annotation goes, the images lose their band.
    expect([], True, "plain after annotated")
    plain = rgb(os.path.join(sample.output, "image", image_name(201907, 12, "ppm")))
    if lines_with("annotation") or plain.shape[:2] != (sample.nrows * 5, sample.ncols * 5):
        check.fail(f"plain after annotated: record {lines_with('annotation')}, image "
                   f"{plain.shape[1]} x {plain.shape[0]}")
    check.done(f"annotated again, other units, same units, plain: {', '.join(told)}; band text "
               f"changed, map kept{ocr}")


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def listing(*directories):
    return {d: sorted(os.listdir(d)) for d in directories}


def check_whole_or_nothing(sample):
    """A GIF that cannot be written leaves nothing; one that would replace
    an input of the run is refused before anything is drawn."""
    check = Check("6 whole or not at all")
    root = os.path.dirname(sample.output)
    param = os.path.join(root, "param.dat")
    july = os.path.join(sample.output, "201907_dailyDischarge.bin")
    inputs = {param: digest(param), july: digest(july)}
    before = listing(sample.output, root)
    # A directory that is not there (one of the work directory's where a
    # /nonexistent happens to exist).
    missing = "/nonexistent"
    if os.path.lexists(missing):
        missing = os.path.join(sample.work, "nonexistent")
    target = os.path.join(missing, "x.gif")
    done = run(check, JULY + ["animate", "--output", target], sample.output, 1)
    if target not in done.stderr:
        check.fail(f"--output {target}: stderr {done.stderr!r} does not name the file")
    if os.path.lexists(missing):
        check.fail(f"--output {target} left {missing} behind")
    for name in ("../param.dat", "201907_dailyDischarge.bin"):
        done = run(check, JULY + ["animate", "--output", name], sample.output, 2)
        if name not in done.stderr:
            check.fail(f"--output {name}: stderr {done.stderr!r} does not name it")
    # A month that cannot be read, after a month of frames: nothing written,
    # and the GIF of an earlier run of the selection is kept as it was.
    gif = os.path.join(sample.output, "201907-201908_discharge.gif")
    kept = digest(gif)
    august = os.path.join(sample.output, "201908_dailyDischarge.bin")
    whole_august = open(august, "rb").read()
    with open(august, "r+b") as shortened:
        shortened.truncate(1000000)
    listed = listing(sample.output, root)
    done = run(check, JULY_AUGUST + ["animate", "--range", "1,1000"], sample.output, 1)
    if "201908" not in done.stderr:
        check.fail(f"a short August: stderr {done.stderr!r} does not name the month")
    if digest(gif) != kept or listing(sample.output, root) != listed:
        check.fail("a short August changed the GIF of the selection or left a file")
    with open(august, "wb") as restored:
        restored.write(whole_august)
    if listing(sample.output, root) != before:
        check.fail(f"files changed: {before} became {listing(sample.output, root)}")
    for path, sha in inputs.items():
        if digest(path) != sha:
            check.fail(f"{path} changed")
    check.done(f"{target}: status 1 naming it, nothing left; ../param.dat and the "
               "monthly file as --output: status 2, unchanged; a short month after a month of "
               "frames: status 1, the earlier GIF kept")


def main(work):
    sample = Run(work)
    setup = Check("setup")
    # The plain images that the annotated frames must show, and the
    # annotated PNG images that the GIF's bands are compared with.
    sample.draw(setup, "plain1", JULY, ["--format", "png", "--scale", "1"])
    sample.draw(setup, "annotated1", JULY, ["--format", "png", "--scale", "1", "--annotate"])
    colours2 = ["--palette", "viridis", "--stretch", "log"]
    sample.draw(setup, "plain2", JULY, ["--format", "png", "--scale", "2"] + colours2)
    sample.draw(setup, "annotated2", JULY, ["--format", "png", "--scale", "2", "--annotate"]
                + colours2)
    # July and August, their range the two months' (a term of two).
    sample.draw(setup, "plain1ja", JULY_AUGUST, ["--format", "png", "--scale", "1"])
    sample.draw(setup, "annotated1ja", JULY_AUGUST, ["--format", "png", "--scale", "1",
                                                     "--annotate"])
    # Each month in its own range, in its frames too.
    own = ["--range", "month", "--palette", "cividis", "--stretch", "linear"]
    sample.draw(setup, "plain1own", JULY_AUGUST, ["--format", "png", "--scale", "1"] + own)
    sample.draw(setup, "annotated1own", JULY_AUGUST, ["--format", "png", "--scale", "1",
                                                      "--annotate"] + own)
    # A map of 1200 pixels: text 20 pixels high, not the smallest 12.
    sample.draw(setup, "plain10", JULY, ["--format", "png", "--scale", "10"])
    sample.draw(setup, "annotated10", JULY, ["--format", "png", "--scale", "10", "--annotate"])
    colours3 = ["--palette", "cividis", "--stretch", "linear", "--scale", "3"]
    sample.draw(setup, "plain3", JULY, ["--format", "png"] + colours3)
    sample.draw(setup, "annotated3", JULY, ["--format", "png", "--annotate"] + colours3)
    sample.draw(setup, "annotated3ppm", JULY, ["--annotate"] + colours3)
    # Last, and left in ./image/: the default scale (5) and colours, plain,
    # then annotated over it (a month drawn plain is not up to date for
    # --annotate), then as PPM.
    shutil.rmtree(os.path.join(sample.output, "image"))
    sample.draw(setup, "plain5", JULY, ["--format", "png"])
    drawn = sample.draw(setup, "annotated5", JULY, ["--format", "png", "--annotate"])
    if "31 images drawn" not in drawn.stderr:
        setup.fail(f"--annotate over plain images says {drawn.stderr.strip()!r}, not drawn")
    sample.draw(setup, "annotated5ppm", JULY, ["--annotate"])
    if setup.problems:
        setup.done("")
        return
    print(f"ok: setup: sample run of {sample.ncols} x {sample.nrows} cells, images drawn"
          + ("" if os.access(PNGCHECK, os.X_OK) else "; pngcheck not installed: not run"))

    check_gif(sample, "1a GIF, defaults (every day, 8 fps, scale 1, sqrt, classic)", JULY,
              [201907], [], 1, "8", 1, "classic", "plain1", "annotated1", [11])
    check_gif(sample, "1b GIF, --every 3 --fps 2.5 --palette viridis --stretch log --scale 2",
              JULY, [201907], ["--every", "3", "--fps", "2.5", "--scale", "2"] + colours2, 3,
              "2.5", 2, "viridis", "plain2", "annotated2", [3])
    check_gif(sample, "1c GIF of July and August, --every 10 --fps 3 (days of the selection)",
              JULY_AUGUST, [201907, 201908], ["--every", "10", "--fps", "3"], 10, "3", 1,
              "classic", "plain1ja", "annotated1ja", [3, 4])
    check_gif(sample, "1d GIF of July and August, --range month --every 7 --palette cividis "
              "--stretch linear", JULY_AUGUST, [201907, 201908], ["--every", "7"] + own, 7, "8",
              1, "cividis", "plain1own", "annotated1own", [])

    check_annotated(sample, "2a annotated PNG, defaults (scale 5, sqrt, classic)",
                    "classic", "plain5", "annotated5", [12])
    check_annotated(sample, "2b annotated PNG, --palette cividis --stretch linear --scale 3",
                    "cividis", "plain3", "annotated3", [12])
    check_annotated(sample, "2c annotated PNG, scale 1 (map narrower than the band)",
                    "classic", "plain1", "annotated1", range(1, 32))
    check_annotated(sample, "2d annotated PNG, --palette viridis --stretch log --scale 2",
                    "viridis", "plain2", "annotated2", [12])
    check_annotated(sample, "2e annotated PNG, --scale 10 (text larger than the least)",
                    "classic", "plain10", "annotated10", [12])
    # Text a sixtieth of the map's width high: 20 pixels at 1200, where 600
    # and less get the least, 12, and so the same band.
    bands = Check("2f band height from the text's")
    heights = {}
    for name, plain_name in (("annotated1", "plain1"), ("annotated2", "plain2"),
                             ("annotated3", "plain3"), ("annotated5", "plain5"),
                             ("annotated10", "plain10")):
        frame = sample.image(bands, name, 201907, 12)
        plain = sample.image(bands, plain_name, 201907, 12)
        if frame is not None and plain is not None:
            heights[name] = (frame.shape[0] - plain.shape[0], plain.shape[1])
    least = {heights[n][0] for n in heights if n != "annotated10"}
    largest = heights.get("annotated10", (0, 0))[0]
    if len(heights) != 5 or len(least) != 1 or not largest > max(least):
        bands.fail(f"band heights (rows, map width): {heights}")
    bands.done(f"{min(least)} rows for maps 120 to 600 wide (text 12), {largest} for 1200 "
               f"(text 20)")

    check_ppm(sample, "3a annotated PPM = PNG, defaults", "annotated5", "annotated5ppm")
    check_ppm(sample, "3b annotated PPM = PNG, cividis linear scale 3", "annotated3",
              "annotated3ppm")

    if not TESSERACT:
        print("skipped: 4 dates read back: tesseract (Debian's tesseract-ocr) is not installed")
    else:
        frames = [f"{what[4:]} {want}" for what, want, _ in read_back if what[:3] == "GIF"]
        scaled = [f"{what} (as drawn {how[1]!r})" for what, _, how in read_back
                  if how[0] != "as drawn"]
        READING.done(f"{len(read_back)} bands (GIF {', '.join(frames)}; the rest annotated PNG "
                     f"days), {len(read_back) - len(scaled)} read as drawn"
                     + (f", {len(scaled)} only scaled up 3x: {'; '.join(scaled)}" if scaled
                        else ""))

    check_resuming(sample)
    check_whole_or_nothing(sample)


with tempfile.TemporaryDirectory(prefix="animation-check-") as work:
    main(work)
print("animation check: " + (f"{failures} checks failed" if failures else "all as expected"))
sys.exit(1 if failures else 0)
