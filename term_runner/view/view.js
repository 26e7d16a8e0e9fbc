// The term's page: the days of the selection as frames of one pixel a cell,
// drawn scaled without smoothing, with a slider, playback, the legend, the
// values a cell's colour stands for and a pinned cell's hydrograph.
// data/term.js hands over the term: the grid, the months, the colour table
// (each entry's colour and levels), the units and the exact series of chosen
// cells. Each month's data/YYYYMM.js is loaded when it is needed, in a frame
// of its own (month.html) that is removed once it has handed the month over:
// its frames, each pixel a cell's colour table entry as a grey level, and
// the values each entry stands for under the month's range. Columns count
// from 1 in the west, rows from 1 in the south, as the programs count them.
"use strict";

const view = {
    term: null,
    months: [],        // per month: {label, year, month, days, first, shown, error, data, ...}
    dayCount: 0,       // days of the selection
    current: 0,        // the day shown, 0 to dayCount - 1
    frame: null,       // the day drawn: {day, month, entries, image}
    request: 0,        // counts the days asked for, so that only the last is drawn
    zoom: 1,           // device pixels a cell
    originX: 0,        // where the grid's north-west corner is on the canvas, in device pixels
    originY: 0,
    fitted: true,      // the map fits the window
    playing: null,     // the playback timer
    pinned: null,      // {column, row, exact: values or null}
    pointer: null,     // the cell under the pointer
    incomplete: null,  // {command} where a run did not finish writing the data
    rgba: null,        // per entry its colour, as the bytes of a canvas pixel
    rank: null,        // per entry its place in the order of discharge, black lowest
};

// Months kept loaded about the one shown: the ones beyond are let go.
const MONTHS_KEPT = 1;

const element = (id) => document.getElementById(id);
const ratio = () => window.devicePixelRatio || 1;

// --- Handing over the data -------------------------------------------------

window.discharge_view = {
    incomplete(note) {
        view.incomplete = note;
    },
    term(term) {
        view.term = term;
        let first = 0;
        for (const month of term.months) {
            view.months.push({...month, first, data: null, loading: null, frameElement: null});
            first += month.days;
        }
        view.dayCount = first;
        prepareColours(term);
        start();
    },
};

// A canvas pixel of red, green and blue as one 32-bit number, as the
// machine orders the bytes of a canvas's pixels.
const littleEndian = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;
function pixelOf([r, g, b]) {
    return littleEndian ? ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0
        : ((r << 24) | (g << 16) | (b << 8) | 255) >>> 0;
}

// Each entry's colour as a canvas pixel, and its rank: the entries run
// through the levels in order, black (no discharge) below them all.
function prepareColours(term) {
    view.rgba = new Uint32Array(256);
    view.rank = new Uint8Array(256);
    view.byRank = new Uint32Array(256);
    term.palette.forEach((colour, entry) => {
        view.rgba[entry] = pixelOf(colour);
        view.rank[entry] = entry === term.black ? 0 : entry + 1;
        view.byRank[view.rank[entry]] = view.rgba[entry];
    });
}

window.addEventListener("message", (event) => {
    const month = view.months.find((m) => m.frameElement &&
        m.frameElement.contentWindow === event.source);
    if (!month || !event.data || event.data.month !== month.label) {
        return;
    }
    removeFrame(month);
    if (event.data.missing) {
        month.fail(new Error(`its data, data/${month.label}.js, cannot be read: ` +
            "run discharge_term view again"));
        return;
    }
    month.data = monthData(event.data.data);
    month.done(month);
});

// A month as the page keeps it: the frames as binary PNG images, which the
// browser keeps outside the script's memory, decoded one at a time.
function monthData(data) {
    return {
        range: data.range,
        minimum: Number(data.minimum),
        maximum: Number(data.maximum),
        minimumText: data.minimum,
        maximumText: data.maximum,
        bounds: data.bounds,
        above: data.above,
        frames: data.frames.map((uri) => {
            const text = atob(uri.slice(uri.indexOf(",") + 1));
            const bytes = new Uint8Array(text.length);
            for (let i = 0; i < text.length; i += 1) {
                bytes[i] = text.charCodeAt(i);
            }
            return new Blob([bytes], {type: "image/png"});
        }),
        pinned: null,  // the pinned cell's entry in each frame, once read
    };
}

function removeFrame(month) {
    if (month.frameElement) {
        month.frameElement.remove();
        month.frameElement = null;
    }
}

// Loads a month once, in a frame of its own; resolves with the month. Months
// far from the one asked for are let go.
function loadMonth(index) {
    const month = view.months[index];
    view.months.forEach((other, i) => {
        if (Math.abs(i - index) > MONTHS_KEPT + 1 && (other.data || other.loading)) {
            removeFrame(other);
            other.data = null;
            other.loading = null;
        }
    });
    if (!month.shown) {
        return Promise.reject(new Error(month.error));
    }
    if (!month.loading) {
        month.loading = new Promise((resolve, reject) => {
            month.done = resolve;
            month.fail = reject;
            const frame = document.createElement("iframe");
            frame.hidden = true;
            frame.src = `month.html#${month.label}`;
            month.frameElement = frame;
            document.body.appendChild(frame);
        });
        // A month that fails is asked for again next time.
        const loading = month.loading;
        loading.catch(() => {
            if (month.loading === loading) {
                month.loading = null;
            }
        });
    }
    return month.loading;
}

// The entries of a frame: the grey level of each pixel, north row first.
const decoder = document.createElement("canvas");

async function entriesOf(blob) {
    const {ncols, nrows} = view.term;
    const bitmap = await createImageBitmap(blob,
        {colorSpaceConversion: "none", premultiplyAlpha: "none"});
    decoder.width = ncols;
    decoder.height = nrows;
    const context = decoder.getContext("2d", {willReadFrequently: true});
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    const pixels = context.getImageData(0, 0, ncols, nrows).data;
    const entries = new Uint8Array(ncols * nrows);
    for (let i = 0; i < entries.length; i += 1) {
        entries[i] = pixels[4 * i];
    }
    return entries;
}

// Frames decoded or being decoded, the day shown and those that come next:
// decoding takes a moment on another thread, which playback would wait for
// at every day.
const DECODED_KEPT = 4;
const decoded = new Map();

// The entries of day `i` of a loaded month, decoded once.
function frameEntries(month, i) {
    const key = `${month.label}:${i}`;
    if (!decoded.has(key)) {
        const entries = entriesOf(month.data.frames[i]);
        entries.catch(() => decoded.delete(key));
        decoded.set(key, entries);
        while (decoded.size > DECODED_KEPT) {
            decoded.delete(decoded.keys().next().value);
        }
    }
    return decoded.get(key);
}

// Starts decoding the days after `day` that are loaded.
function decodeAhead(day) {
    for (let next = day + 1; next < Math.min(view.dayCount, day + DECODED_KEPT); next += 1) {
        const month = view.months[monthOfDay(next)];
        if (month.data) {
            frameEntries(month, next - month.first);
        }
    }
}

// The entry of one cell of a frame.
const pixelDecoder = document.createElement("canvas");
pixelDecoder.width = 1;
pixelDecoder.height = 1;

async function entryAt(blob, column, row) {
    const bitmap = await createImageBitmap(blob, column - 1, view.term.nrows - row, 1, 1,
        {colorSpaceConversion: "none", premultiplyAlpha: "none"});
    const context = pixelDecoder.getContext("2d", {willReadFrequently: true});
    context.clearRect(0, 0, 1, 1);
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    return context.getImageData(0, 0, 1, 1).data[0];
}

// --- Days ------------------------------------------------------------------

function monthOfDay(day) {
    let index = view.months.length - 1;
    while (index > 0 && view.months[index].first > day) {
        index -= 1;
    }
    return index;
}

const two = (number) => String(number).padStart(2, "0");

function dateOf(day) {
    const month = view.months[monthOfDay(day)];
    return `${month.year}-${two(month.month)}-${two(day - month.first + 1)}`;
}

function dayOfDate(text) {
    const [year, monthNumber, date] = String(text).split("-").map(Number);
    const month = view.months.find((m) => m.year === year && m.month === monthNumber);
    return month && date >= 1 && date <= month.days ? month.first + date - 1 : null;
}

function setStatus(text) {
    element("status").textContent = text;
}

async function show(day) {
    view.current = Math.max(0, Math.min(view.dayCount - 1, day));
    const request = ++view.request;
    const index = monthOfDay(view.current);
    const month = view.months[index];
    element("slider").value = view.current;
    element("date").textContent = dateOf(view.current);
    element("month").value = index;
    fillDays(index);
    element("day").value = view.current - month.first;
    writeAddress();
    if (!month.data && month.shown) {
        setStatus(`Loading ${month.label}...`);
    }
    try {
        await loadMonth(index);
        if (index + 1 < view.months.length) {
            loadMonth(index + 1).catch(() => {});
        }
        const entries = await frameEntries(month, view.current - month.first);
        if (request !== view.request) {
            return;
        }
        decodeAhead(view.current);
        view.frame = {day: view.current, month, entries};
        setStatus("");
        if (view.legendOf !== month.data) {
            showLegend(month);
            view.legendOf = month.data;
        }
    } catch (error) {
        if (request !== view.request) {
            return;
        }
        view.frame = {day: view.current, month, entries: null};
        setStatus(`No data for ${dateOf(view.current)}: ${error.message}`);
    }
    drawMap();
    describePointer();
    readPinned(month);
    drawChart();
}

function fillDays(index) {
    const select = element("day");
    const days = view.months[index].days;
    if (select.options.length !== days) {
        select.replaceChildren(...Array.from({length: days}, (_, i) => new Option(i + 1, i)));
    }
}

// --- The map ---------------------------------------------------------------

function fitMap() {
    const canvas = element("map");
    canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio()));
    canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio()));
    if (view.fitted) {
        view.zoom = Math.min(canvas.width / view.term.ncols, canvas.height / view.term.nrows);
        view.originX = (canvas.width - view.term.ncols * view.zoom) / 2;
        view.originY = (canvas.height - view.term.nrows * view.zoom) / 2;
    }
}

// The canvases the frame shown is coloured in: at one pixel a cell, and
// reduced where a screen pixel covers several cells.
const whole = document.createElement("canvas");
const reduced = document.createElement("canvas");

// Paints `canvas` `width` x `height` pixels, each the colour that `colours`
// gives its number in `numbers`.
function paint(canvas, width, height, numbers, colours) {
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext("2d");
    const image = context.createImageData(width, height);
    const pixels = new Uint32Array(image.data.buffer);
    for (let i = 0; i < numbers.length; i += 1) {
        pixels[i] = colours[numbers[i]];
    }
    context.putImageData(image, 0, 0);
}

// The frame at one pixel a cell, coloured from the colour table.
function frameImage(entries) {
    paint(whole, view.term.ncols, view.term.nrows, entries, view.rgba);
}

// The frame where a screen pixel covers several cells: each pixel shows the
// largest discharge among the cells it covers, so that a river one cell wide
// stays a line, however small the map is drawn.
function reducedImage(entries, zoom) {
    const {ncols, nrows} = view.term;
    const width = Math.max(1, Math.ceil(ncols * zoom));
    const height = Math.max(1, Math.ceil(nrows * zoom));
    const columnAt = new Uint32Array(ncols);
    for (let c = 0; c < ncols; c += 1) {
        columnAt[c] = Math.min(width - 1, Math.floor(c * zoom));
    }
    const best = new Uint8Array(width * height);
    for (let r = 0; r < nrows; r += 1) {
        const out = Math.min(height - 1, Math.floor(r * zoom)) * width;
        const row = r * ncols;
        for (let c = 0; c < ncols; c += 1) {
            const rank = view.rank[entries[row + c]];
            if (rank > best[out + columnAt[c]]) {
                best[out + columnAt[c]] = rank;
            }
        }
    }
    paint(reduced, width, height, best, view.byRank);
}

function drawMap() {
    const canvas = element("map");
    const context = canvas.getContext("2d");
    context.imageSmoothingEnabled = false;
    context.fillStyle = "#eee";
    context.fillRect(0, 0, canvas.width, canvas.height);
    const {ncols, nrows} = view.term;
    const frame = view.frame;
    if (!frame) {
        return;
    }
    if (!frame.entries) {
        // A day without data: the grid in grey, under the note.
        context.fillStyle = "#bbb";
        context.fillRect(view.originX, view.originY, ncols * view.zoom, nrows * view.zoom);
        return;
    }
    // Each canvas holds the last frame coloured in it.
    if (view.zoom >= 1) {
        if (view.whole !== frame) {
            frameImage(frame.entries);
            view.whole = frame;
        }
        context.drawImage(whole, view.originX, view.originY, ncols * view.zoom,
            nrows * view.zoom);
    } else {
        if (view.reduced !== frame || view.reducedZoom !== view.zoom) {
            reducedImage(frame.entries, view.zoom);
            view.reduced = frame;
            view.reducedZoom = view.zoom;
        }
        context.drawImage(reduced, Math.round(view.originX), Math.round(view.originY));
    }
    drawMarks(context);
}

// A frame about each cell with exact values, and the pinned cell's.
function drawMarks(context) {
    const side = Math.max(view.zoom, 2);
    context.lineWidth = 2;
    context.strokeStyle = "#fff";
    context.font = "12px sans-serif";
    context.textAlign = "left";
    for (const cell of view.term.cells) {
        const [x, y] = cellCorner(cell.column, cell.row);
        context.strokeRect(x - 3, y - 3, side + 6, side + 6);
        if (cell.gauge !== undefined) {
            // The gauge's id beside it, white edged in black to show on any colour.
            context.lineWidth = 3;
            context.strokeStyle = "#000";
            context.strokeText(cell.gauge, x + side + 6, y + side);
            context.fillStyle = "#fff";
            context.fillText(cell.gauge, x + side + 6, y + side);
            context.lineWidth = 2;
            context.strokeStyle = "#fff";
        }
    }
    if (view.pinned) {
        // Magenta, but where magenta draws values above the range (viridis,
        // cividis) red, which those palettes do not hold.
        context.strokeStyle = view.term.aboveName === "magenta" ? "#f00" : "#f0f";
        const [x, y] = cellCorner(view.pinned.column, view.pinned.row);
        context.strokeRect(x - 2, y - 2, side + 4, side + 4);
    }
}

// The canvas position of a cell's north-west corner.
function cellCorner(column, row) {
    return [view.originX + (column - 1) * view.zoom,
        view.originY + (view.term.nrows - row) * view.zoom];
}

// The cell under a point of the canvas given in CSS pixels.
function cellAt(x, y) {
    const column = Math.floor((x * ratio() - view.originX) / view.zoom) + 1;
    const fromTop = Math.floor((y * ratio() - view.originY) / view.zoom);
    const row = view.term.nrows - fromTop;
    return column >= 1 && column <= view.term.ncols && row >= 1 && row <= view.term.nrows
        ? {column, row} : null;
}

function zoomAbout(x, y, factor) {
    view.originX = x - (x - view.originX) * factor;
    view.originY = y - (y - view.originY) * factor;
    view.zoom *= factor;
    view.fitted = false;
    drawMap();
    writeAddress();
}

// --- What a colour stands for ------------------------------------------------

function number(value, digits = 4) {
    return Number(Number(value).toPrecision(digits)).toString();
}

// "LOW to HIGH", with as many digits as tell the two apart (up to nine,
// which tell every two floats apart).
function spanText(low, high) {
    let digits = 4;
    while (digits < 9 && number(low, digits) === number(high, digits)) {
        digits += 1;
    }
    return `${number(low, digits)} to ${number(high, digits)}`;
}

function unitsText() {
    return view.term.units;
}

// What the colour of no discharge stands for: no discharge, a value that is
// not a number or infinite, and below a typed minimum above zero; under a
// log stretch, whose minimum is above zero, every value below the month's
// minimum, zero among them.
function blackMeaning(month) {
    if (view.term.stretch === "log" && month) {
        return "no discharge (a negative value), not a number or infinite, or below the " +
            `minimum ${month.data.minimumText} ${unitsText()} (zero among them)`;
    }
    const minimum = view.term.typedMinimum;
    const below = minimum !== null && minimum > 0
        ? `, or below the typed minimum ${number(minimum)} ${unitsText()}` : "";
    return `no discharge (a negative value), not a number or infinite${below}`;
}

// The values a palette entry stands for in a month, in words.
function entryMeaning(entry, month) {
    const parts = [];
    const bounds = month.data.bounds[entry];
    if (bounds) {
        parts.push(`${spanText(bounds[0], bounds[1])} ${unitsText()}`);
    }
    if (entry === view.term.aboveEntry && Number.isFinite(month.data.above)) {
        parts.push(`${number(month.data.above)} ${unitsText()} or more (above the range)`);
    }
    if (entry === view.term.black) {
        parts.push(blackMeaning(month));
    }
    return parts.join(", or ");
}

function termCell(cell) {
    return view.term.cells.find((c) => c.column === cell.column && c.row === cell.row) || null;
}

function exactSeries(cell) {
    const found = termCell(cell);
    return found ? found.values : null;
}

// A cell as pinned: its exact values where it has them, and a gauge's id and
// observed values where it is a gauge's.
function pinned(cell) {
    const found = termCell(cell);
    return {...cell, exact: found ? found.values : null,
        gauge: found && found.gauge !== undefined ? found.gauge : null,
        observed: found && found.observed ? found.observed : null};
}

function describeCell(cell) {
    const frame = view.frame;
    if (!cell || !frame) {
        return "Point at the map for a cell's column, row and value.";
    }
    const where = `Column ${cell.column}, row ${cell.row}: `;
    if (!frame.entries) {
        return `${where}no data for this day`;
    }
    const entry = frame.entries[(view.term.nrows - cell.row) * view.term.ncols + cell.column - 1];
    const exact = exactSeries(cell);
    const text = exact ? exact[view.current] : null;
    const value = text === null ? "" : ` (exactly ${text === "" ? "not read" : text})`;
    return `${where}${entryMeaning(entry, frame.month)}${value}`;
}

function describePointer() {
    element("cell-info").textContent = describeCell(view.pointer);
}

// --- The legend --------------------------------------------------------------

// The ramp over the month's range, linear in discharge (in its logarithm
// under a log stretch, as a logarithmic axis is), each value in the colour
// of its entry, with the values where it begins, reaches the levels 63, 127
// and 191 (in the classic palette cyan, green and yellow), and ends.
function showLegend(month) {
    const data = month.data;
    element("range-min").textContent = data.minimumText;
    element("range-max").textContent = data.maximumText;
    for (const units of document.querySelectorAll(".units")) {
        units.textContent = unitsText();
    }
    const swatch = (id, entry) => {
        element(id).style.background = `rgb(${view.term.palette[entry].join(",")})`;
    };
    swatch("swatch-black", view.term.black);
    swatch("swatch-above", view.term.aboveEntry);
    element("meaning-black").textContent = `${view.term.noneName}: ${blackMeaning(month)}`;
    element("meaning-above").textContent = Number.isFinite(data.above)
        ? `this ${view.term.aboveName}: ${entryMeaning(view.term.aboveEntry, month)}`
        : "no value is above the range";
    drawLegend(data);
}

// The entry that draws `value`: the one whose bounds hold it.
function entryOf(value, data) {
    let found = view.term.black;
    data.bounds.forEach((bounds, entry) => {
        if (bounds && value >= bounds[0] && value < bounds[1]) {
            found = entry;
        }
    });
    return found;
}

// A canvas's context drawing in CSS pixels at the screen's resolution, and
// its size in CSS pixels.
function sharp(canvas) {
    const scale = ratio();
    canvas.width = Math.round(canvas.clientWidth * scale);
    canvas.height = Math.round(canvas.clientHeight * scale);
    const context = canvas.getContext("2d");
    context.setTransform(scale, 0, 0, scale, 0, 0);
    return {context, width: canvas.clientWidth, height: canvas.clientHeight};
}

function drawLegend(data) {
    const canvas = element("legend");
    const {context, width} = sharp(canvas);
    const left = 8;
    const right = width - 8;
    const bar = 22;
    context.clearRect(0, 0, width, canvas.clientHeight);
    const logarithmic = view.term.stretch === "log";
    const low = logarithmic ? Math.log(data.minimum) : data.minimum;
    const span = (logarithmic ? Math.log(data.maximum) : data.maximum) - low;
    const position = (value) => ((logarithmic ? Math.log(value) : value) - low) / span;
    for (let x = left; x <= right; x += 1) {
        const along = low + span * (x - left) / (right - left);
        const value = logarithmic ? Math.exp(along) : along;
        const entry = x === right ? entryOf(data.maximum, data) : entryOf(value, data);
        context.fillStyle = `rgb(${view.term.palette[entry].join(",")})`;
        context.fillRect(x, 0, 1, bar);
    }
    const marks = [{value: data.minimum, text: data.minimumText, end: true}];
    for (const level of [63, 127, 191]) {
        const entry = view.term.levels.findIndex(([low, high]) => low <= level && level <= high);
        const value = data.bounds[entry] ? data.bounds[entry][0] : NaN;
        if (value > data.minimum && value < data.maximum) {
            marks.push({value, text: number(value), end: false});
        }
    }
    marks.push({value: data.maximum, text: data.maximumText, end: true});
    drawLabels(context, marks.map((mark) => ({...mark,
        x: left + (right - left) * position(mark.value)})), bar, width);
}

// Ticks and their labels below the bar, in two rows where they would meet;
// a label between the ends gives way where there is no room.
function drawLabels(context, marks, bar, width) {
    context.font = "12px sans-serif";
    context.fillStyle = "#222";
    context.strokeStyle = "#222";
    const rows = [[], []];
    const placed = [];
    const spanOf = (mark) => {
        const textWidth = context.measureText(mark.text).width;
        const start = Math.max(0, Math.min(mark.x - textWidth / 2, width - textWidth));
        return [start, start + textWidth];
    };
    const order = [marks[0], marks[marks.length - 1], ...marks.slice(1, -1)];
    for (const mark of order) {
        const [start, end] = spanOf(mark);
        const row = rows.findIndex((taken) => taken.every(([a, b]) => end + 6 < a || start > b + 6));
        if (row < 0) {
            continue;
        }
        rows[row].push([start, end]);
        placed.push({...mark, start, row});
    }
    for (const mark of placed) {
        const tickEnd = bar + 5 + mark.row * 16;
        context.beginPath();
        context.moveTo(Math.round(mark.x) + 0.5, bar);
        context.lineTo(Math.round(mark.x) + 0.5, tickEnd);
        context.stroke();
        context.fillText(mark.text, mark.start, tickEnd + 12);
    }
    context.fillText(unitsText(), width - context.measureText(unitsText()).width, bar + 52);
}

// --- The hydrograph of the pinned cell ------------------------------------

function pin(cell) {
    view.pinned = cell ? pinned(cell) : null;
    element("save").disabled = view.pinned === null;
    drawMap();
    writeAddress();
    view.months.forEach((month) => readPinned(month));
    drawChart();
}

// Reads the pinned cell's entry in every frame of a loaded month, once.
async function readPinned(month) {
    const cell = view.pinned;
    if (!cell || cell.exact || !month.data) {
        return;
    }
    const key = `${cell.column},${cell.row}`;
    const data = month.data;
    if (data.pinned && data.pinned.key === key) {
        return;
    }
    data.pinned = {key, entries: null};
    const entries = [];
    for (const blob of data.frames) {
        entries.push(await entryAt(blob, cell.column, cell.row));
    }
    if (data.pinned.key === key) {
        data.pinned.entries = entries;
        drawChart();
    }
}

// The days of the pinned cell: its exact values (null where there is no
// discharge), or, read from the colours of the months loaded, each day's
// {low, high} (null where not loaded, or black).
function pinnedDays() {
    if (view.pinned.exact) {
        return view.pinned.exact.map((text) => {
            const value = text === "" ? NaN : Number(text);
            return Number.isFinite(value) && value >= 0 ? value : null;
        });
    }
    const key = `${view.pinned.column},${view.pinned.row}`;
    const days = new Array(view.dayCount).fill(null);
    view.months.forEach((month) => {
        const data = month.data;
        if (!data || !data.pinned || data.pinned.key !== key || !data.pinned.entries) {
            return;
        }
        data.pinned.entries.forEach((entry, i) => {
            const bounds = data.bounds[entry];
            days[month.first + i] = bounds ? {low: bounds[0], high: bounds[1]} : null;
        });
    });
    return days;
}

// Round steps for an axis from 0 to `top`: 1, 2 or 5 times a power of ten.
function valueTicks(top) {
    const rough = top / 4;
    const power = 10 ** Math.floor(Math.log10(rough));
    const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= rough);
    const ticks = [];
    for (let value = 0; value < top + step / 2; value += step) {
        ticks.push(value);
    }
    if (ticks[ticks.length - 1] < top) {
        ticks.push(ticks[ticks.length - 1] + step);
    }
    return ticks;
}

// The days whose dates label the time axis: the first of months, as many
// as fit, or of years on a long term, or every fifth day on a short one.
function dateTicks(plotWidth) {
    if (view.dayCount <= 62) {
        const ticks = [];
        for (let day = 0; day < view.dayCount; day += 1) {
            const date = day - view.months[monthOfDay(day)].first + 1;
            if (date === 1 || date % 5 === 0) {
                ticks.push({day, text: dateOf(day).slice(5)});
            }
        }
        return ticks;
    }
    const fit = Math.max(1, Math.floor(plotWidth / 64));
    const every = [1, 2, 3, 4, 6, 12].find((n) => view.months.length / n <= fit);
    if (every) {
        return view.months.filter((m, i) => i % every === 0)
            .map((m) => ({day: m.first, text: `${m.year}-${two(m.month)}`}));
    }
    const januaries = view.months.filter((m) => m.month === 1);
    const years = Math.ceil(januaries.length / fit);
    return januaries.filter((m, i) => i % years === 0).map((m) => ({day: m.first, text: `${m.year}`}));
}

function drawChart() {
    const {context, width, height} = sharp(element("chart"));
    context.clearRect(0, 0, width, height);
    if (!view.pinned) {
        element("chart-title").textContent = "Click a cell to pin its hydrograph.";
        element("values").textContent = "";
        return;
    }
    const days = pinnedDays();
    const exact = view.pinned.exact !== null;
    const observed = view.pinned.observed
        ? view.pinned.observed.map((text) => (text === "" ? null : Number(text))) : null;
    element("chart-title").textContent =
        (view.pinned.gauge !== null ? `Gauge ${view.pinned.gauge}, column ` : "Column ") +
        `${view.pinned.column}, row ${view.pinned.row}: ` +
        (exact ? "its exact daily discharge"
            : "its daily discharge as read from the colours (each bar spans its colour's " +
              "values), for the months loaded") +
        (observed ? " (blue) and the observed (black)" : "");
    let top = 0;
    for (const day of days) {
        if (day !== null) {
            top = Math.max(top, exact ? day : day.high);
        }
    }
    for (const value of observed || []) {
        top = value === null ? top : Math.max(top, value);
    }
    const ticks = valueTicks(top > 0 ? top : 1);
    top = ticks[ticks.length - 1];
    const plot = {left: 64, right: width - 12, top: 10, bottom: height - 34};
    const x = (day) => plot.left + (day + 0.5) * (plot.right - plot.left) / view.dayCount;
    const y = (value) => plot.bottom - value / top * (plot.bottom - plot.top);
    drawAxes(context, plot, ticks, y, x);
    context.strokeStyle = "#1565c0";
    context.fillStyle = "#1565c0";
    context.beginPath();
    let drawing = false;
    const barWidth = Math.max(1, (plot.right - plot.left) / view.dayCount - 1);
    days.forEach((d, day) => {
        if (d === null) {
            drawing = false;
        } else if (exact) {
            drawing ? context.lineTo(x(day), y(d)) : context.moveTo(x(day), y(d));
            drawing = true;
        } else {
            const high = y(Math.min(d.high, top));
            context.fillRect(x(day) - barWidth / 2, high, barWidth, Math.max(1, y(d.low) - high));
        }
    });
    context.stroke();
    if (observed) {
        drawLine(context, observed, x, y, "#222");
    }
    context.strokeStyle = "#e53935";
    context.beginPath();
    context.moveTo(x(view.current), plot.top);
    context.lineTo(x(view.current), plot.bottom);
    context.stroke();
    element("values").textContent = exact
        ? view.pinned.exact.map((text, day) => `${dateOf(day)} ${text === "" ? "not read" : text}` +
            (observed ? `, observed ${view.pinned.observed[day] || "none"}` : "")).join("\n")
        : "";
}

// A series as a line, broken where a day has no value.
function drawLine(context, values, x, y, colour) {
    context.strokeStyle = colour;
    context.beginPath();
    let drawing = false;
    values.forEach((value, day) => {
        if (value === null) {
            drawing = false;
            return;
        }
        drawing ? context.lineTo(x(day), y(value)) : context.moveTo(x(day), y(value));
        drawing = true;
    });
    context.stroke();
}

// The frame of the plot, the values along it with their units, and the dates
// below it.
function drawAxes(context, plot, ticks, y, x) {
    context.strokeStyle = "#999";
    context.strokeRect(plot.left, plot.top, plot.right - plot.left, plot.bottom - plot.top);
    context.fillStyle = "#222";
    context.font = "11px sans-serif";
    context.textAlign = "right";
    for (const value of ticks) {
        context.fillText(number(value), plot.left - 6, y(value) + 4);
        context.strokeStyle = "#eee";
        context.beginPath();
        context.moveTo(plot.left + 1, y(value));
        context.lineTo(plot.right - 1, y(value));
        context.stroke();
    }
    context.save();
    context.translate(12, (plot.top + plot.bottom) / 2);
    context.rotate(-Math.PI / 2);
    context.textAlign = "center";
    context.fillText(`discharge (${unitsText()})`, 0, 0);
    context.restore();
    context.textAlign = "left";
    context.strokeStyle = "#999";
    for (const tick of dateTicks(plot.right - plot.left)) {
        const at = x(tick.day) - 0.5 * (plot.right - plot.left) / view.dayCount;
        context.beginPath();
        context.moveTo(at, plot.bottom);
        context.lineTo(at, plot.bottom + 5);
        context.stroke();
        context.fillText(tick.text, at + 2, plot.bottom + 16);
    }
}

// The pinned cell's series as CSV: its exact values, or the bounds of the
// colours of the days loaded; a day without a value is left empty.
function pinnedCsv() {
    const units = unitsText();
    const exact = view.pinned.exact;
    const observed = view.pinned.observed;
    const lines = [(exact ? `date,discharge (${units})` : `date,low (${units}),high (${units})`) +
        (observed ? `,observed (${units})` : "")];
    pinnedDays().forEach((d, day) => {
        const value = d === null ? (exact ? "" : ",") : exact ? exact[day] : `${d.low},${d.high}`;
        lines.push(`${dateOf(day)},${value}${observed ? `,${observed[day]}` : ""}`);
    });
    return `${lines.join("\n")}\n`;
}

function savePinned() {
    const first = view.months[0].label;
    const last = view.months[view.months.length - 1].label;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([pinnedCsv()], {type: "text/csv"}));
    link.download = `${first}-${last}-${view.pinned.column}-${view.pinned.row}_view.csv`;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// --- The address ---------------------------------------------------------------

// The day, the pinned cell and the zoom (CSS pixels a cell, and the cell at
// the map's centre) in the address, as they change: it can be kept, sent,
// and edited.
function writeAddress() {
    const parts = [`day=${dateOf(view.current)}`];
    if (view.pinned) {
        parts.push(`cell=${view.pinned.column},${view.pinned.row}`);
    }
    if (!view.fitted) {
        const canvas = element("map");
        const centre = cellAt(canvas.clientWidth / 2, canvas.clientHeight / 2) ||
            {column: 1, row: 1};
        parts.push(`zoom=${Number((view.zoom / ratio()).toPrecision(3))}`,
            `at=${centre.column},${centre.row}`);
    }
    const hash = `#${parts.join("&")}`;
    if (location.hash !== hash) {
        history.replaceState(null, "", hash);
    }
}

// Follows the address: its day, pinned cell and zoom.
function readAddress() {
    const options = new URLSearchParams(location.hash.slice(1));
    const cellOf = (text) => {
        const [column, row] = String(text).split(",").map(Number);
        return Number.isInteger(column) && Number.isInteger(row) && column >= 1 &&
            column <= view.term.ncols && row >= 1 && row <= view.term.nrows ? {column, row} : null;
    };
    const zoom = Number(options.get("zoom"));
    const at = cellOf(options.get("at"));
    if (zoom > 0 && at) {
        const canvas = element("map");
        view.fitted = false;
        view.zoom = zoom * ratio();
        view.originX = canvas.width / 2 - (at.column - 0.5) * view.zoom;
        view.originY = canvas.height / 2 - (view.term.nrows - at.row + 0.5) * view.zoom;
    } else {
        view.fitted = true;
        fitMap();
    }
    const cell = options.has("cell") ? cellOf(options.get("cell")) : null;
    view.pinned = cell ? pinned(cell) : null;
    element("save").disabled = view.pinned === null;
    const day = options.has("day") ? dayOfDate(options.get("day")) : null;
    return show(day === null ? view.current : day);
}

// --- Controls ----------------------------------------------------------------

function setPlaying(on) {
    clearInterval(view.playing);
    view.playing = null;
    element("play").textContent = on ? "Pause" : "Play";
    if (on) {
        const step = async () => {
            if (view.current + 1 < view.dayCount) {
                await show(view.current + 1);
            } else if (element("loop").checked) {
                await show(0);
            } else {
                setPlaying(false);
                setStatus(`Playback stopped at the last day, ${dateOf(view.current)}.`);
            }
        };
        view.playing = setInterval(step, 1000 / Number(element("speed").value));
    }
}

// Keys the slider, the pickers and the buttons handle themselves, where
// they have the focus.
const OWN_KEYS = {
    SELECT: () => true,
    INPUT: (key) => ["ArrowLeft", "ArrowRight", "Home", "End", "PageUp", "PageDown"].includes(key),
    BUTTON: (key) => key === " ",
};

function onKey(event) {
    const own = OWN_KEYS[event.target.tagName];
    if ((own && own(event.key)) || event.altKey || event.ctrlKey || event.metaKey) {
        return;
    }
    const month = view.months[monthOfDay(view.current)];
    const steps = {
        ArrowRight: () => show(view.current + 1),
        ArrowLeft: () => show(view.current - 1),
        Home: () => show(0),
        End: () => show(view.dayCount - 1),
        PageDown: () => show(month.first + month.days),
        PageUp: () => show(view.current > month.first ? month.first
            : view.months[monthOfDay(Math.max(0, month.first - 1))].first),
        " ": () => setPlaying(view.playing === null),
        "0": () => fit(),
        f: () => fit(),
    };
    if (steps[event.key]) {
        event.preventDefault();
        steps[event.key]();
    }
}

function fit() {
    view.fitted = true;
    fitMap();
    drawMap();
    writeAddress();
}

function startMap() {
    const map = element("map");
    let drag = null;
    map.addEventListener("mousedown", (event) => {
        drag = {x: event.offsetX, y: event.offsetY, moved: false};
    });
    map.addEventListener("mousemove", (event) => {
        if (drag && (Math.abs(event.offsetX - drag.x) + Math.abs(event.offsetY - drag.y) > 2)) {
            view.originX += (event.offsetX - drag.x) * ratio();
            view.originY += (event.offsetY - drag.y) * ratio();
            view.fitted = false;
            drag = {x: event.offsetX, y: event.offsetY, moved: true};
            drawMap();
        }
        view.pointer = cellAt(event.offsetX, event.offsetY);
        describePointer();
    });
    map.addEventListener("mouseup", (event) => {
        if (drag && !drag.moved) {
            pin(cellAt(event.offsetX, event.offsetY));
        } else if (drag) {
            writeAddress();
        }
        drag = null;
    });
    map.addEventListener("wheel", (event) => {
        event.preventDefault();
        zoomAbout(event.offsetX * ratio(), event.offsetY * ratio(), event.deltaY < 0 ? 1.25 : 0.8);
    }, {passive: false});
}

function startControls() {
    const slider = element("slider");
    slider.max = view.dayCount - 1;
    slider.addEventListener("input", () => show(Number(slider.value)));
    element("month").replaceChildren(...view.months.map((m, i) =>
        new Option(`${m.year}-${two(m.month)}${m.shown ? "" : " (no data)"}`, i)));
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
    element("fit").addEventListener("click", fit);
    element("save").addEventListener("click", savePinned);
    document.addEventListener("keydown", onKey);
    window.addEventListener("resize", () => {
        fitMap();
        drawMap();
        drawChart();
    });
    window.addEventListener("hashchange", readAddress);
    const list = element("cells");
    for (const cell of view.term.cells) {
        const item = document.createElement("li");
        item.textContent = (cell.gauge !== undefined ? `gauge ${cell.gauge}: ` : "") +
            `column ${cell.column}, row ${cell.row}`;
        item.addEventListener("click", () => pin(cell));
        list.appendChild(item);
    }
    element("cells-box").hidden = view.term.cells.length === 0;
}

// The note above the page: none where its data are whole; where a run that
// wrote them did not finish, which command completes them.
function showNote() {
    const note = element("note");
    if (view.incomplete) {
        note.textContent = "The data of this page are incomplete: the run that writes them " +
            `(${view.incomplete.command}) has not finished. Once it has, reload the page; if it ` +
            "was stopped, run it again in the simulation's output directory.";
    } else {
        note.hidden = true;
    }
}

function start() {
    showNote();
    const first = view.months[0].label;
    const last = view.months[view.months.length - 1].label;
    document.title = `Discharge ${first === last ? first : `${first}-${last}`}`;
    element("range-kind").textContent = view.term.rangeKind || "";
    startControls();
    startMap();
    fitMap();
    readAddress();
}
