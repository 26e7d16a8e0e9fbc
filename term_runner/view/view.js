// The term's page: the days of the selection as frames of one pixel a cell,
// drawn scaled up without smoothing, with a slider, playback, the legend, the
// value of the cell under the pointer read from its colour, and a pinned
// cell's hydrograph. data/term.js hands over the term; data/YYYYMM.js each
// month, loaded when it is needed. Columns count from 1 in the west, rows
// from 1 in the south, as the programs count them.
"use strict";

const view = {
    term: null,
    months: [],        // per month: {label, year, month, days, first, data, loading}
    dayCount: 0,       // days of the selection
    current: 0,        // the day shown, 0 to dayCount - 1
    zoom: 1,           // screen pixels a cell
    originX: 0,        // where the grid's north-west corner is on the canvas
    originY: 0,
    playing: null,     // the playback timer
    pinned: null,      // {column, row, exact: values or null}
    colours: new Map(),  // "r,g,b" to its palette entry
};

const element = (id) => document.getElementById(id);

// --- Handing over the data -------------------------------------------------

window.discharge_view = {
    term(term) {
        view.term = term;
        let first = 0;
        for (const month of term.months) {
            view.months.push({...month, first, data: null, loading: null, resolve: null});
            first += month.days;
        }
        view.dayCount = first;
        term.palette.forEach((entry, index) => {
            view.colours.set(entry.slice(0, 3).join(","), index);
        });
        start();
    },
    month(data) {
        const month = view.months.find((m) => m.label === data.label);
        if (!month) {
            return;
        }
        const [minimum, maximum] = data.range.split(",").map(Number);
        month.data = {
            range: data.range, minimum, maximum, legend: data.legend,
            frames: data.frames.map((uri) => {
                const image = new Image();
                image.src = uri;
                return image;
            }),
        };
        month.resolve(month);
    },
};

// Resolves once an image is loaded. Waiting for the load, not for decode(),
// keeps a page that is still loading its first month from counting as
// loaded: browsers and their headless tools wait for images, not decoding,
// and a frame is decoded when it is first drawn.
function loaded(image) {
    return image.complete ? Promise.resolve() : new Promise((resolve, reject) => {
        image.onload = resolve;
        image.onerror = () => reject(new Error("a frame cannot be decoded"));
    });
}

// Loads a month's script once; resolves with the month when its frames are
// loaded. Months far from the one shown are let go, so that a long term
// never holds more than a few months.
function loadMonth(index) {
    const month = view.months[index];
    if (!month.loading) {
        month.loading = new Promise((resolve, reject) => {
            month.resolve = resolve;
            const script = document.createElement("script");
            script.src = `data/${month.label}.js`;
            script.onerror = () => reject(new Error(`data/${month.label}.js cannot be read`));
            document.head.appendChild(script);
            script.onload = () => script.remove();
        }).then((m) => Promise.all(m.data.frames.map(loaded)).then(() => m));
    }
    view.months.forEach((other, i) => {
        if (Math.abs(i - index) > 3 && other.data) {
            other.data = null;
            other.loading = null;
        }
    });
    return month.loading;
}

// --- Days ------------------------------------------------------------------

function monthOfDay(day) {
    let index = view.months.length - 1;
    while (index > 0 && view.months[index].first > day) {
        index -= 1;
    }
    return index;
}

function dateOf(day) {
    const month = view.months[monthOfDay(day)];
    const date = day - month.first + 1;
    return `${month.year}-${String(month.month).padStart(2, "0")}-${String(date).padStart(2, "0")}`;
}

function dayOfDate(text) {
    const [year, monthNumber, date] = text.split("-").map(Number);
    const month = view.months.find((m) => m.year === year && m.month === monthNumber);
    return month && date >= 1 && date <= month.days ? month.first + date - 1 : null;
}

async function show(day) {
    view.current = Math.max(0, Math.min(view.dayCount - 1, day));
    const index = monthOfDay(view.current);
    const month = view.months[index];
    element("slider").value = view.current;
    element("date").textContent = dateOf(view.current);
    element("month").value = index;
    fillDays(index);
    element("day").value = view.current - month.first;
    if (!month.data) {
        element("status").textContent = `Loading ${month.label}...`;
    }
    try {
        await loadMonth(index);
    } catch (error) {
        element("status").textContent = error.message;
        return;
    }
    if (index + 1 < view.months.length) {
        loadMonth(index + 1).catch(() => {});
    }
    if (view.current >= month.first && view.current < month.first + month.days) {
        element("status").textContent = "";
        showLegend(month);
        drawMap();
        drawChart();
    }
}

function fillDays(index) {
    const select = element("day");
    const days = view.months[index].days;
    if (select.options.length !== days) {
        select.replaceChildren(...Array.from({length: days}, (_, i) => new Option(i + 1, i)));
    }
}

// --- The map ---------------------------------------------------------------

function frameOf(day) {
    const month = view.months[monthOfDay(day)];
    return month.data ? month.data.frames[day - month.first] : null;
}

function fitMap() {
    const canvas = element("map");
    canvas.width = canvas.clientWidth;
    canvas.height = canvas.clientHeight;
    view.zoom = Math.min(canvas.width / view.term.ncols, canvas.height / view.term.nrows);
    view.originX = (canvas.width - view.term.ncols * view.zoom) / 2;
    view.originY = (canvas.height - view.term.nrows * view.zoom) / 2;
}

function drawMap() {
    const canvas = element("map");
    const context = canvas.getContext("2d");
    context.imageSmoothingEnabled = false;
    context.fillStyle = "#eee";
    context.fillRect(0, 0, canvas.width, canvas.height);
    const frame = frameOf(view.current);
    if (!frame) {
        return;
    }
    const {ncols, nrows} = view.term;
    context.drawImage(frame, view.originX, view.originY, ncols * view.zoom, nrows * view.zoom);
    context.lineWidth = 2;
    for (const cell of view.term.cells) {
        context.strokeStyle = "#fff";
        const [x, y] = cellCorner(cell.column, cell.row);
        context.strokeRect(x - 3, y - 3, view.zoom + 6, view.zoom + 6);
    }
    if (view.pinned) {
        context.strokeStyle = "#f0f";
        const [x, y] = cellCorner(view.pinned.column, view.pinned.row);
        context.strokeRect(x - 2, y - 2, view.zoom + 4, view.zoom + 4);
    }
}

// The canvas position of a cell's north-west corner.
function cellCorner(column, row) {
    return [view.originX + (column - 1) * view.zoom,
            view.originY + (view.term.nrows - row) * view.zoom];
}

function cellAt(x, y) {
    const column = Math.floor((x - view.originX) / view.zoom) + 1;
    const fromTop = Math.floor((y - view.originY) / view.zoom);
    const row = view.term.nrows - fromTop;
    return column >= 1 && column <= view.term.ncols && row >= 1 && row <= view.term.nrows
        ? {column, row} : null;
}

// --- Values read from colours ------------------------------------------------

const scratch = document.createElement("canvas");
scratch.width = 1;
scratch.height = 1;

// The palette entry of a cell in a frame.
function entryAt(frame, column, row) {
    const context = scratch.getContext("2d", {willReadFrequently: true});
    context.clearRect(0, 0, 1, 1);
    context.drawImage(frame, column - 1, view.term.nrows - row, 1, 1, 0, 0, 1, 1);
    const [r, g, b] = context.getImageData(0, 0, 1, 1).data;
    return view.colours.get(`${r},${g},${b}`);
}

// The discharge at the lower edge of a colour level: the levels are the
// square root of the position in the range, times 255, truncated.
function levelValue(level, month) {
    const position = (level / 255) ** 2;
    return month.data.minimum + position * (month.data.maximum - month.data.minimum);
}

// What a colour says of a cell's value: {low, high} of its levels, and
// whether it may also mean no discharge or above the range.
function readColour(entryIndex, month) {
    const [, , , lowest, highest, black, above] = view.term.palette[entryIndex];
    return {
        low: lowest >= 0 ? levelValue(lowest, month) : null,
        high: lowest >= 0 ? levelValue(highest + 1, month) : null,
        black: black === 1,
        above: above === 1,
    };
}

function number(value) {
    return Number(value.toPrecision(4)).toString();
}

function colourText(reading, month) {
    const parts = [];
    if (reading.low !== null) {
        parts.push(`${number(reading.low)} to ${number(reading.high)}`);
    }
    if (reading.above) {
        parts.push(`above ${number(month.data.maximum)}`);
    }
    if (reading.black) {
        parts.push("no discharge");
    }
    return parts.join(", or ");
}

function describeCell(cell) {
    const month = view.months[monthOfDay(view.current)];
    const frame = frameOf(view.current);
    if (!cell || !frame) {
        return "Point at the map for a cell's column, row and value.";
    }
    const entry = entryAt(frame, cell.column, cell.row);
    const exact = exactSeries(cell);
    const value = exact ? ` (exactly ${exact[view.current] || "not read"})` : "";
    return `Column ${cell.column}, row ${cell.row}: ` +
        `${entry === undefined ? "?" : colourText(readColour(entry, month), month)}${value}`;
}

function exactSeries(cell) {
    const found = view.term.cells.find((c) => c.column === cell.column && c.row === cell.row);
    return found ? found.values : null;
}

// --- The hydrograph of the pinned cell ------------------------------------

function pin(cell) {
    view.pinned = cell ? {...cell, exact: exactSeries(cell)} : null;
    drawMap();
    drawChart();
}

// The days of the pinned cell: from its exact series, or read from the
// colours of the days loaded ({low, high} each, null where not loaded).
function pinnedDays() {
    if (view.pinned.exact) {
        return view.pinned.exact.map((text) => {
            const value = text === "" ? NaN : Number(text);
            return Number.isFinite(value) && value >= 0 ? value : null;
        });
    }
    const days = new Array(view.dayCount).fill(null);
    view.months.forEach((month) => {
        if (!month.data) {
            return;
        }
        month.data.frames.forEach((frame, i) => {
            const entry = entryAt(frame, view.pinned.column, view.pinned.row);
            const reading = entry === undefined ? null : readColour(entry, month);
            days[month.first + i] = reading && reading.low !== null ? reading : null;
        });
    });
    return days;
}

function drawChart() {
    const canvas = element("chart");
    const context = canvas.getContext("2d");
    context.clearRect(0, 0, canvas.width, canvas.height);
    if (!view.pinned) {
        element("chart-title").textContent = "Click a cell to pin its hydrograph.";
        element("values").textContent = "";
        return;
    }
    const days = pinnedDays();
    view.chart = days;
    const exact = view.pinned.exact !== null;
    element("chart-title").textContent =
        `Column ${view.pinned.column}, row ${view.pinned.row}: ` +
        (exact ? "its exact daily discharge"
               : "its daily discharge as read from the colours (each bar spans its colour's values), days loaded only");
    const highs = days.filter((d) => d !== null).map((d) => (exact ? d : d.high));
    const top = Math.max(1e-9, ...highs);
    const left = 50;
    const width = canvas.width - left - 10;
    const height = canvas.height - 30;
    const x = (day) => left + (day + 0.5) * width / view.dayCount;
    const y = (value) => 10 + height - value / top * height;
    context.fillStyle = "#222";
    context.font = "11px sans-serif";
    context.fillText(number(top), 2, 14);
    context.fillText("0", 2, 10 + height);
    context.strokeStyle = "#999";
    context.strokeRect(left, 10, width, height);
    context.strokeStyle = "#1565c0";
    context.fillStyle = "#1565c0";
    context.beginPath();
    let drawing = false;
    days.forEach((d, day) => {
        if (d === null) {
            drawing = false;
            return;
        }
        if (exact) {
            drawing ? context.lineTo(x(day), y(d)) : context.moveTo(x(day), y(d));
            drawing = true;
        } else {
            const barWidth = Math.max(1, width / view.dayCount - 1);
            context.fillRect(x(day) - barWidth / 2, y(d.high), barWidth, Math.max(1, y(d.low) - y(d.high)));
        }
    });
    context.stroke();
    context.strokeStyle = "#e53935";
    context.beginPath();
    context.moveTo(x(view.current), 10);
    context.lineTo(x(view.current), 10 + height);
    context.stroke();
    context.fillStyle = "#222";
    context.fillText(dateOf(0), left, canvas.height - 5);
    const last = dateOf(view.dayCount - 1);
    context.fillText(last, canvas.width - 10 - context.measureText(last).width, canvas.height - 5);
    element("values").textContent = exact
        ? view.pinned.exact.map((text, day) => `${dateOf(day)} ${text === "" ? "not read" : text}`).join("\n")
        : "";
}

// --- The legend --------------------------------------------------------------

function showLegend(month) {
    element("legend").src = month.data.legend;
    const [minimum, maximum] = month.data.range.split(",");
    element("range-min").textContent = minimum;
    element("range-max").textContent = maximum;
}

// --- Controls ----------------------------------------------------------------

function setPlaying(on) {
    clearInterval(view.playing);
    view.playing = null;
    element("play").textContent = on ? "Pause" : "Play";
    if (on) {
        const step = async () => {
            if (view.current + 1 >= view.dayCount) {
                setPlaying(false);
                return;
            }
            await show(view.current + 1);
        };
        view.playing = setInterval(step, 1000 / Number(element("speed").value));
    }
}

function start() {
    document.title = `Discharge ${view.months[0].label}-${view.months[view.months.length - 1].label}`;
    element("range-kind").textContent = view.term.rangeKind || "";
    const slider = element("slider");
    slider.max = view.dayCount - 1;
    slider.addEventListener("input", () => show(Number(slider.value)));
    element("month").replaceChildren(...view.months.map((m, i) =>
        new Option(`${m.year}-${String(m.month).padStart(2, "0")}`, i)));
    element("month").addEventListener("change", (event) =>
        show(view.months[Number(event.target.value)].first));
    element("day").addEventListener("change", (event) =>
        show(view.months[monthOfDay(view.current)].first + Number(event.target.value)));
    element("play").addEventListener("click", () => setPlaying(view.playing === null));
    element("speed").addEventListener("change", () => {
        if (view.playing !== null) {
            setPlaying(true);
        }
    });
    document.addEventListener("keydown", (event) => {
        if (event.target.tagName === "SELECT") {
            return;
        }
        if (event.key === "ArrowRight" || event.key === "ArrowLeft") {
            event.preventDefault();
            show(view.current + (event.key === "ArrowRight" ? 1 : -1));
        } else if (event.key === " ") {
            event.preventDefault();
            setPlaying(view.playing === null);
        }
    });
    const map = element("map");
    let drag = null;
    map.addEventListener("mousedown", (event) => {
        drag = {x: event.offsetX, y: event.offsetY, moved: false};
    });
    map.addEventListener("mousemove", (event) => {
        if (drag && (Math.abs(event.offsetX - drag.x) + Math.abs(event.offsetY - drag.y) > 2)) {
            view.originX += event.offsetX - drag.x;
            view.originY += event.offsetY - drag.y;
            drag = {x: event.offsetX, y: event.offsetY, moved: true};
            drawMap();
        }
        element("cell-info").textContent = describeCell(cellAt(event.offsetX, event.offsetY));
    });
    map.addEventListener("mouseup", (event) => {
        if (drag && !drag.moved) {
            pin(cellAt(event.offsetX, event.offsetY));
        }
        drag = null;
    });
    map.addEventListener("wheel", (event) => {
        event.preventDefault();
        const factor = event.deltaY < 0 ? 1.25 : 0.8;
        view.originX = event.offsetX - (event.offsetX - view.originX) * factor;
        view.originY = event.offsetY - (event.offsetY - view.originY) * factor;
        view.zoom *= factor;
        drawMap();
    }, {passive: false});
    window.addEventListener("resize", () => {
        fitMap();
        drawMap();
    });
    const list = element("cells");
    for (const cell of view.term.cells) {
        const item = document.createElement("li");
        item.textContent = `column ${cell.column}, row ${cell.row}`;
        item.addEventListener("click", () => pin(cell));
        list.appendChild(item);
    }
    element("cells-box").hidden = view.term.cells.length === 0;
    fitMap();
    const options = new URLSearchParams(location.hash.slice(1));
    const day = options.has("day") ? dayOfDate(options.get("day")) : null;
    if (options.has("check")) {
        check(options.get("check"));
        return;
    }
    show(day === null ? 0 : day).then(() => {
        if (options.has("cell")) {
            const [column, row] = options.get("cell").split(",").map(Number);
            pin({column, row});
        }
    });
}

// --- Check mode --------------------------------------------------------------

// index.html#check=YYYY-MM-DD,C,R shows that day, reads the cell's colour
// back from the map as drawn, pins the first cell with exact values, and
// writes what it found into <pre id="check"> as JSON, for tests that read the
// page from a headless browser.
async function check(what) {
    const [date, column, row] = what.split(",");
    const found = {frames: view.dayCount, errors: []};
    try {
        const day = dayOfDate(date);
        const started = performance.now();
        await show(day);
        found.shownAfterMs = Math.round(performance.now() - started);
        const cell = {column: Number(column), row: Number(row)};
        const [x, y] = cellCorner(cell.column, cell.row);
        const pixel = element("map").getContext("2d")
            .getImageData(Math.floor(x + view.zoom / 2), Math.floor(y + view.zoom / 2), 1, 1).data;
        found.date = element("date").textContent;
        if (element("status").textContent) {
            found.errors.push(element("status").textContent);
        }
        found.rgb = [pixel[0], pixel[1], pixel[2]];
        found.legend = [element("range-min").textContent, element("range-max").textContent];
        found.cell = element("cell-info").textContent = describeCell(cell);
        if (view.term.cells.length > 0) {
            pin(view.term.cells[0]);
            found.pinned = {column: view.pinned.column, row: view.pinned.row, values: view.chart};
        }
    } catch (error) {
        found.errors.push(String(error));
    }
    const out = element("check");
    out.textContent = JSON.stringify(found);
    out.hidden = false;
}
