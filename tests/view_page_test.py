#!/usr/bin/python3
"""The page of `discharge_term view` in a real browser, opened from disk:
Debian's Chromium, headless, driven by Selenium through chromedriver. Each
test writes a run, runs discharge_term on it and reads the page as a user
sees it: the map's pixels against the images, what a colour is said to
stand for, a day without data, a page whose data are missing, the address,
the keys, playback, the CSV saved, the memory over a long term, the gauges
marked with their observations, and the page of the gauges' hydrographs.

    view_page_test.py DISCHARGE_TERM MAKE_SAMPLE_RUN

Exits 77 (skipped) where Selenium or Chromium is missing.
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("skipped: Selenium (Debian's python3-selenium) is not installed")
    sys.exit(77)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
    print("skipped: chromium and chromium-driver are not installed")
    sys.exit(77)

TERM, MAKE_SAMPLE_RUN = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
GREY_NO_DATA = [187, 187, 187]


def parameter_text(ncols, nrows, start="2019 2020 4 3"):
    """A param.dat of the grid, as the tests of the programs write it."""
    return (f"2\n{ncols} {nrows}\n135.5 34.25\n400 300\n12 7\n135.004166\n34.0041666\n"
            f"3600\n{start}\n")


def days_of(year, month):
    return [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1]


class Run:
    """A run tree in a temporary folder: root/param.dat and root/output."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="view-test-")
        self.output = os.path.join(self.root, "output")
        os.mkdir(self.output)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write(self, name, data, mode="w"):
        with open(os.path.join(self.output, name), mode) as f:
            f.write(data)

    def month(self, year, month, values):
        self.write(f"{year:04d}{month:02d}_dailyDischarge.bin",
                   struct.pack(f"<{len(values)}f", *values), "wb")

    def term(self, *arguments, status=0):
        done = subprocess.run([TERM, *arguments], cwd=self.output, capture_output=True,
                              text=True, timeout=600)
        if status is not None and done.returncode != status:
            raise AssertionError(f"{arguments}: status {done.returncode}\n{done.stderr}")
        return done

    def page(self, address=""):
        return "file://" + os.path.join(self.output, "view", "index.html") + address


def browser(downloads):
    options = Options()
    options.binary_location = CHROMIUM
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--window-size=1400,1000", "--force-device-scale-factor=1"]:
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    return driver


class ViewPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.downloads = tempfile.mkdtemp(prefix="view-downloads-")
        cls.driver = browser(cls.downloads)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.downloads, ignore_errors=True)

    def setUp(self):
        self.run = Run()

    def tearDown(self):
        self.run.remove()

    # --- Reading the page ----------------------------------------------------

    def js(self, script, *arguments):
        return self.driver.execute_script(script, *arguments)

    def text(self, element_id):
        """An element's text, its white space as it reads."""
        return " ".join(self.js(f"return document.getElementById('{element_id}').textContent")
                        .split())

    def open(self, address=""):
        self.driver.get(self.run.page(address))
        self.settle()

    def settle(self, date=None):
        """Waits until the day asked for is drawn (or said to have no data)."""
        deadline = time.time() + 30
        while time.time() < deadline:
            ready = self.js("return typeof view !== 'undefined' && view.frame !== null && "
                            "view.frame.day === view.current && "
                            "!document.getElementById('status').textContent.startsWith('Loading')")
            if ready and (date is None or self.text("date") == date):
                return
            time.sleep(0.05)
        self.fail(f"the page did not show {date or 'a day'}: {self.text('status')}")

    def cell_point(self, column, row):
        """The centre of a cell on the map, in CSS pixels from the canvas's corner."""
        x, y = self.js(f"return cellCorner({column}, {row})")
        zoom = self.js("return view.zoom")
        return x + zoom / 2, y + zoom / 2

    def map_pixel(self, column, row):
        x, y = self.cell_point(column, row)
        return self.js("return Array.from(document.getElementById('map').getContext('2d')"
                       f".getImageData({math.floor(x)}, {math.floor(y)}, 1, 1).data.slice(0, 3))")

    def point_at(self, column, row):
        """Moves the pointer over a cell and returns what the page says of it."""
        x, y = self.cell_point(column, row)
        canvas = self.driver.find_element("id", "map")
        width, height = canvas.size["width"], canvas.size["height"]
        ActionChains(self.driver).move_to_element_with_offset(
            canvas, int(x - width / 2), int(y - height / 2)).perform()
        return self.text("cell-info")

    def press(self, key):
        ActionChains(self.driver).send_keys(key).perform()

    # --- The tests -------------------------------------------------------------

    def test_map_is_the_images_and_the_hydrograph_the_series(self):
        run = self.run
        subprocess.run([MAKE_SAMPLE_RUN, run.root, "--force", "--months",
                        "201907,201908"], check=True, capture_output=True)
        run.term("images", "--range", "0,2000", "--from", "2019-07", "--to", "2019-07")
        run.term("series", "--cell", "46,14", "--csv")
        run.term("view", "--range", "0,2000", "--cell", "46,14")
        self.open("#day=2019-07-12")
        self.assertEqual(self.text("date"), "2019-07-12")
        with open(os.path.join(run.output, "image", "201907_  12_discharge.ppm"), "rb") as f:
            ppm = f.read()
        header = len(b"P6\n600 500\n255\n")
        for column, row in [(46, 14), (39, 27), (1, 1), (120, 100), (60, 50)]:
            at = header + ((100 - row) * 5 * 600 + (column - 1) * 5) * 3
            self.assertEqual(self.map_pixel(column, row), list(ppm[at:at + 3]), (column, row))
        self.assertEqual([self.text("range-min"), self.text("range-max")], ["0", "2000"])
        self.assertEqual(self.point_at(46, 14), "Column 46, row 14: 1599 to 1613 m3 s-1 "
                         "(exactly 1605.51)")
        # The pinned cell's CSV, saved from the page, holds its series.
        self.js("pin({column: 46, row: 14})")
        self.driver.find_element("id", "save").click()
        saved = os.path.join(self.downloads, "201907-201908-46-14_view.csv")
        for _ in range(100):
            if os.path.exists(saved):
                break
            time.sleep(0.05)
        with open(saved) as f, open(os.path.join(run.output,
                                                 "201907-201908-46-14_discharge.csv")) as g:
            self.assertEqual(f.read(), g.read())

    def test_colours_say_what_they_stand_for(self):
        run = self.run
        ncols, nrows = 8, 6
        run.write("../param.dat", parameter_text(ncols, nrows))
        # Row 1 (south): no discharge, not a number, infinite, below the
        # typed minimum, its minimum; row 6: just above the maximum (still
        # red), far above it (yellow) and the ramp's own yellow. The second
        # row and column from each edge are the images' masked ring.
        day = [50.0] * (ncols * nrows)
        day[0:6] = [-999.0, 50.0, float("nan"), float("inf"), 5.0, 10.0]
        day[5 * ncols:5 * ncols + 4] = [100.5, 50.0, 200.0, 61.0]
        run.month(2019, 11, day * 30)
        run.term("view", "--range", "10,100", "--from", "2019-11", "--to", "2019-11",
                 "--units", "m3/s")
        self.open()
        black = ("no discharge (a negative value), not a number or infinite, or below the "
                 "typed minimum 10 m3/s")
        for column in [1, 3, 4, 5]:
            self.assertEqual(self.point_at(column, 1), f"Column {column}, row 1: {black}")
        self.assertEqual(self.point_at(6, 1), "Column 6, row 1: 10 to 10.001 m3/s")
        self.assertEqual(self.point_at(1, 6), "Column 1, row 6: 100 to 100.7 m3/s")
        yellow = "60.49 to 61.56 m3/s, or 100.7 m3/s or more (above the range)"
        self.assertEqual(self.point_at(3, 6), f"Column 3, row 6: {yellow}")
        self.assertEqual(self.point_at(4, 6), f"Column 4, row 6: {yellow}")
        self.assertEqual(self.text("meaning-black"), f"black: {black}")
        self.assertEqual(self.text("meaning-above"), f"this yellow: {yellow}")
        self.assertEqual(self.js("return Array.from(document.querySelectorAll('.units'))"
                                 ".map((e) => e.textContent)"), ["m3/s"])
        # Under a log stretch in viridis: the colours' names follow the
        # palette, the values each colour stands for the stretch.
        run.term("view", "--range", "10,100", "--from", "2019-11", "--to", "2019-11",
                 "--units", "m3/s", "--stretch", "log", "--palette", "viridis")
        self.open()
        self.assertEqual(self.map_pixel(6, 1), [68, 1, 84])
        self.assertEqual(self.map_pixel(3, 6), [255, 0, 255])
        self.assertEqual(self.map_pixel(1, 1), [204, 204, 204])
        self.assertEqual(self.point_at(6, 1), "Column 6, row 1: 10 to 10.09 m3/s")
        self.assertEqual(self.text("meaning-black"),
                         "light grey: no discharge (a negative value), not a number or infinite, "
                         "or below the minimum 10 m3/s (zero among them)")
        self.assertTrue(self.text("meaning-above").startswith("this magenta: "),
                        self.text("meaning-above"))

    def test_a_month_without_data_is_grey_and_said(self):
        run = self.run
        run.write("../param.dat", parameter_text(5, 4))
        run.month(2019, 11, [float(i % 97) for i in range(20 * 30)])
        run.month(2020, 1, [float(i % 89) for i in range(20 * 31)])
        done = run.term("view", "--range", "0,100", "--from", "2019-11", "--to", "2020-01",
                        status=1)
        missing = ("./201912_dailyDischarge.bin: Daily discharge data cannot open. "
                   "(No such file or directory)")
        self.assertIn(f"201912: {missing}\n", done.stderr)
        self.open("#day=2019-11-30")
        self.press(Keys.ARROW_RIGHT)
        self.settle("2019-12-01")
        self.assertEqual(self.text("status"), f"No data for 2019-12-01: {missing}")
        self.assertEqual(self.map_pixel(3, 2), GREY_NO_DATA)
        self.assertEqual(self.point_at(3, 2), "Column 3, row 2: no data for this day")
        self.assertEqual(self.js("return document.getElementById('month').options[1].text"),
                         "2019-12 (no data)")
        self.press(Keys.PAGE_DOWN)
        self.settle("2020-01-01")
        self.assertEqual(self.text("status"), "")
        self.assertNotEqual(self.map_pixel(3, 2), GREY_NO_DATA)

    def test_a_page_without_its_data_says_which_command_writes_them(self):
        run = self.run
        run.write("../param.dat", parameter_text(5, 4))
        run.month(2019, 11, [float(i) for i in range(20 * 30)])
        run.term("view", "--from", "2019-11", "--to", "2019-11")
        os.remove(os.path.join(run.output, "view", "data", "term.js"))
        self.driver.get(run.page())
        time.sleep(0.5)
        self.assertTrue(self.text("note").startswith(
            "This page has no data: its file data/term.js is missing. In the simulation's output "
            "directory, run discharge_term view to write it."), self.text("note"))
        # A run that did not finish leaves its note, which the page shows.
        run.term("view", "--from", "2019-11", "--to", "2019-11")
        run.write("view/data/incomplete.js",
                  'discharge_view.incomplete({command: "discharge_term view --cell 2,2"});\n')
        self.open()
        self.assertEqual(self.text("note"),
                         "The data of this page are incomplete: the run that writes them "
                         "(discharge_term view --cell 2,2) has not finished. Once it has, reload "
                         "the page; if it was stopped, run it again in the simulation's output "
                         "directory.")
        os.remove(os.path.join(run.output, "view", "data", "incomplete.js"))
        self.open()
        self.assertTrue(self.js("return document.getElementById('note').hidden"))

    def test_address_keys_and_playback(self):
        run = self.run
        subprocess.run([MAKE_SAMPLE_RUN, run.root, "--force", "--months", "201907,201908"],
                       check=True, capture_output=True)
        run.term("view")
        self.open()
        hash_ = lambda: self.js("return location.hash")
        self.assertEqual(hash_(), "#day=2019-07-01")
        self.press(Keys.ARROW_RIGHT)
        self.settle("2019-07-02")
        self.assertEqual(hash_(), "#day=2019-07-02")
        self.press(Keys.END)
        self.settle("2019-08-31")
        self.press(Keys.HOME)
        self.settle("2019-07-01")
        # A click pins a cell; the wheel zooms; 0 fits the map again.
        canvas = self.driver.find_element("id", "map")
        x, y = self.cell_point(46, 14)
        ActionChains(self.driver).move_to_element_with_offset(
            canvas, int(x - canvas.size["width"] / 2),
            int(y - canvas.size["height"] / 2)).click().perform()
        self.assertEqual(hash_(), "#day=2019-07-01&cell=46,14")
        ActionChains(self.driver).scroll_from_origin(ScrollOrigin.from_element(canvas), 0,
                                                     -100).perform()
        time.sleep(0.2)
        self.assertRegex(hash_(), r"^#day=2019-07-01&cell=46,14&zoom=[0-9.]+&at=[0-9]+,[0-9]+$")
        self.press("0")
        self.assertEqual(hash_(), "#day=2019-07-01&cell=46,14")
        # An address edited by hand is followed.
        self.js("location.hash = '#day=2019-08-03&cell=39,27&zoom=12&at=46,14'")
        self.settle("2019-08-03")
        self.assertEqual(self.js("return [view.pinned.column, view.pinned.row, "
                                 "view.zoom, cellAt(...[document.getElementById('map')"
                                 ".clientWidth / 2, document.getElementById('map')"
                                 ".clientHeight / 2])]"), [39, 27, 12, {"column": 46, "row": 14}])
        # Playback stops at the last day and says so, or loops.
        self.js("location.hash = '#day=2019-08-30'")
        self.settle("2019-08-30")
        self.js("document.getElementById('speed').value = '25'")
        self.driver.find_element("id", "play").click()
        time.sleep(1)
        self.assertEqual(self.text("play"), "Play")
        self.assertEqual(self.text("status"), "Playback stopped at the last day, 2019-08-31.")
        self.driver.find_element("id", "loop").click()
        self.driver.find_element("id", "play").click()
        time.sleep(0.5)
        self.assertEqual(self.text("play"), "Pause")
        self.assertTrue(self.text("date").startswith("2019-07-"), self.text("date"))
        self.driver.find_element("id", "play").click()

    def test_a_river_one_cell_wide_stays_a_line_on_a_small_map(self):
        run = self.run
        ncols, nrows = 1400, 300
        run.write("../param.dat", parameter_text(ncols, nrows))
        day = [1.0] * (ncols * nrows)
        for row in range(nrows):
            day[row * ncols + 700] = 100.0  # column 701, from south to north
        for column in range(ncols):
            day[150 * ncols + column] = 100.0  # row 151, from west to east
        run.month(2019, 11, day * 30)
        run.term("view", "--range", "0,100", "--from", "2019-11", "--to", "2019-11")
        self.open()
        zoom = self.js("return view.zoom")
        self.assertLess(zoom, 1)
        red = [252, 0, 0]
        column_x = math.floor(self.js("return view.originX") + 700 * zoom)
        row_y = math.floor(self.js("return view.originY") + (nrows - 151) * zoom)
        top = math.ceil(self.js("return view.originY"))
        pixels = self.js(
            "const c = document.getElementById('map').getContext('2d');"
            f"return [Array.from(c.getImageData({column_x}, {top}, 1, {int(nrows * zoom) - 1})"
            ".data), "
            f"Array.from(c.getImageData({math.ceil(self.js('return view.originX'))}, {row_y}, "
            f"{int(ncols * zoom) - 1}, 1).data)]")
        for line in pixels:
            # All but the ends, where the second cell from the edge is the
            # images' masked ring, black.
            colours = [line[i:i + 3] for i in range(8, len(line) - 8, 4)]
            self.assertEqual([c for c in colours if c != red], [])

    def saved_csv(self, name):
        saved = os.path.join(self.downloads, name)
        for _ in range(100):
            if os.path.exists(saved):
                break
            time.sleep(0.05)
        with open(saved) as f:
            return f.read()

    def test_gauges_are_marked_and_pinned_with_their_observations(self):
        run = self.run
        subprocess.run([MAKE_SAMPLE_RUN, run.root, "--force", "--months",
                        "201907,201908"], check=True, capture_output=True)
        run.term("gauges", "--gauges", "../gauges.csv", "--observed", "../observed.csv")
        run.term("view", "--range", "0,2000", "--gauges", "../gauges.csv", "--observed",
                 "../observed.csv")
        self.open("#day=2019-07-12")
        self.assertEqual(self.text("cells"), "gauge G01: column 46, row 9"
                         "gauge G02: column 62, row 54")
        # Each gauge's id beside it on the map, in white letters (edged in
        # black): the map's colours have no white.
        x, y = self.cell_point(46, 9)
        zoom = self.js("return view.zoom")
        label = self.js("const c = document.getElementById('map').getContext('2d');"
                        f"return Array.from(c.getImageData({math.ceil(x + zoom / 2 + 4)}, "
                        f"{math.floor(y - 8)}, 24, 14).data)")
        colours = {tuple(label[i:i + 3]) for i in range(0, len(label), 4)}
        self.assertIn((255, 255, 255), colours)
        # Pinned from the list: the observed line (black) beside the exact
        # simulated one, and both series in the CSV saved, as `gauges` wrote
        # them.
        self.driver.find_elements("css selector", "#cells li")[0].click()
        self.assertEqual(self.text("chart-title"), "Gauge G01, column 46, row 9: its exact daily "
                         "discharge (blue) and the observed (black)")
        chart = self.js("const c = document.getElementById('chart');"
                        "return Array.from(c.getContext('2d').getImageData(0, 0, c.width, "
                        "c.height).data)")
        colours = {tuple(chart[i:i + 3]) for i in range(0, len(chart), 4)}
        self.assertIn((0x22, 0x22, 0x22), colours)
        self.assertIn((0x15, 0x65, 0xc0), colours)
        self.driver.find_element("id", "save").click()
        saved = self.saved_csv("201907-201908-46-9_view.csv").splitlines()
        with open(os.path.join(run.output, "gauges", "G01.csv")) as f:
            written = f.read().splitlines()
        self.assertEqual(saved[0], "date,discharge (m3 s-1),observed (m3 s-1)")
        self.assertEqual(written[0], "date,simulated,observed")
        self.assertEqual(len(saved), 63)
        # The page gives the simulated values with the six digits of the
        # series files, `gauges` exactly: the dates and observations are the
        # same text, the simulated values the same to six digits.
        for mine, theirs in zip(saved[1:], written[1:]):
            mine, theirs = mine.split(","), theirs.split(",")
            self.assertEqual([mine[0], mine[2]], [theirs[0], theirs[2]])
            self.assertEqual(mine[1] == "", theirs[1] == "", theirs)
            if mine[1]:
                self.assertEqual(float(mine[1]), float(f"{float(theirs[1]):.6g}"), theirs)

    def test_the_gauges_page_shows_every_hydrograph_and_its_scores(self):
        run = self.run
        subprocess.run([MAKE_SAMPLE_RUN, run.root, "--force", "--months",
                        "201907,201908,201909"], check=True, capture_output=True)
        run.term("gauges", "--gauges", "../gauges.csv", "--observed", "../observed.csv",
                 "--log")
        self.driver.get("file://" + os.path.join(run.output, "gauges", "index.html"))
        deadline = time.time() + 30
        while time.time() < deadline and not self.js(
                "return Array.from(document.images).every((i) => i.complete)"):
            time.sleep(0.05)
        # Both hydrographs drawn from their files, at the size they say.
        self.assertEqual(self.js("return Array.from(document.images).map((i) => "
                                 "[i.getAttribute('src'), i.naturalWidth > 0, "
                                 "i.naturalWidth === i.width])"),
                         [["G01.svg", True, True], ["G02.svg", True, True]])
        # The table of scores is metrics.csv's, a row a gauge.
        with open(os.path.join(run.output, "gauges", "metrics.csv")) as f:
            metrics = [line.split(",") for line in f.read().splitlines()]
        rows = self.js("return Array.from(document.querySelectorAll('tbody tr')).map((r) => "
                       "Array.from(r.cells).map((c) => c.textContent))")
        self.assertEqual(len(rows), 2)
        for row, line in zip(rows, metrics[1:]):
            self.assertEqual(row[:4], line[:4])
            # NSE, to the four digits the page gives.
            self.assertAlmostEqual(float(row[4]), float(line[4]), delta=5e-4 * abs(float(line[4])))

    def renderer_memory(self):
        """The resident memory of the browser's renderers, in bytes."""
        pids = [self.driver.service.process.pid]
        resident = 0
        while pids:
            pid = pids.pop()
            try:
                for task in os.listdir(f"/proc/{pid}/task"):
                    with open(f"/proc/{pid}/task/{task}/children") as f:
                        pids += [int(child) for child in f.read().split()]
                with open(f"/proc/{pid}/cmdline") as f:
                    renderer = "--type=renderer" in f.read()
                with open(f"/proc/{pid}/statm") as f:
                    pages = int(f.read().split()[1])
            except OSError:
                continue
            resident += pages * os.sysconf("SC_PAGE_SIZE") if renderer else 0
        return resident

    def test_memory_stays_bounded_over_a_long_term(self):
        run = self.run
        months = [f"{2010 + i // 12}{i % 12 + 1:02d}" for i in range(40)]
        subprocess.run([MAKE_SAMPLE_RUN, run.root, "--force", "--size", "300x200", "--months",
                        ",".join(months)], check=True, capture_output=True)
        run.term("view", "--range", "0,2000")
        self.open()
        self.driver.set_script_timeout(600)

        def play(first, last):
            self.driver.execute_async_script(
                "const done = arguments[arguments.length - 1];"
                f"(async () => {{ for (let day = {first}; day < {last}; day += 1) "
                "{ await show(day); } done(); })();")
            self.driver.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
            return (self.driver.execute_cdp_cmd("Runtime.getHeapUsage", {})["usedSize"],
                    self.renderer_memory())

        # Every day, as playback shows them: the heap of the page's scripts,
        # and the memory of the renderer, which holds what the scripts and
        # the images leave behind, after 10 months and after 40.
        heap_early, resident_early = play(0, 304)
        heap_late, resident_late = play(304, 1216)
        print(f"heap {heap_early / 1e6:.1f} MB, then {heap_late / 1e6:.1f} MB; renderer "
              f"{resident_early / 1e6:.0f} MB, then {resident_late / 1e6:.0f} MB")
        self.assertLessEqual(self.js("return document.querySelectorAll('iframe').length"), 1)
        self.assertLessEqual(self.js("return view.months.filter((m) => m.data).length"), 4)
        self.assertLess(heap_late - heap_early, 2e6)
        self.assertLess(resident_late - resident_early, 40e6)

if __name__ == "__main__":
    # The programs are the arguments; any further ones name tests to run.
    result = unittest.main(argv=[sys.argv[0], *sys.argv[3:]], exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)
