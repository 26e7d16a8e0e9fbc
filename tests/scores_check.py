#!/usr/bin/python3
"""The skill scores of `discharge_term gauges`, worked out independently of
the program: each gauge's series read back from its CSV file, its days paired
where both discharges are present (finite, not negative), and every score of
metrics.csv computed anew in float64 (numpy arrays, sums by math.fsum) from
its defining formula
(Nash and Sutcliffe 1970; Pushpalatha et al. 2012; Gupta et al. 2009; Kling
et al. 2012), then held against the file's value: within a relative 1e-8
(the file keeps nine significant digits), and empty exactly where the score
is undefined (fewer than 2 paired days, a zero denominator, or a result or a
sum that it is made of that is not finite).

    scores_check.py METRICS_CSV SERIES_DIR

METRICS_CSV has the header
id,column,row,days,nse,log_nse,kge,r,alpha,beta,kge_prime,gamma,pbias,rmse,mean_sim,mean_obs
and a line a gauge; SERIES_DIR holds each gauge's `<stem>.csv`, with the
header date,simulated,observed, where the stem is the gauge's id made safe as
a file name (gauge_file_stem of term_runner/gauge_input.h).

Exits 0 when every score matches, 1 on any difference (each one named), 77
(skipped) where numpy is missing.
"""

import csv
import math
import os
import sys

try:
    import numpy as np
except ImportError as missing:
    print(f"skipped: {missing.name} (Debian's python3-{missing.name.lower()}) is not installed")
    sys.exit(77)

METRICS_HEADER = ["id", "column", "row", "days", "nse", "log_nse", "kge", "r", "alpha", "beta",
                  "kge_prime", "gamma", "pbias", "rmse", "mean_sim", "mean_obs"]
SERIES_HEADER = ["date", "simulated", "observed"]
SCORES = METRICS_HEADER[4:]
# Scores in units of discharge: their rounding is relative to the flows' size,
# not to 1 as for the dimensionless ones.
DISCHARGES = {"rmse", "mean_sim", "mean_obs"}
RELATIVE = 1e-8
# Below this a dimensionless score is zero but for rounding: an nse of 1e-17
# and one of 3e-16 agree. For pbias, whose sum of errors can cancel, the
# same fraction of the mean absolute error, in percent of the mean. The
# discharges (means, rmse) cancel nothing: only the relative bound holds.
ABSOLUTE = 1e-12
# Names that Windows keeps for devices, whatever the case or extension.
RESERVED = {"CON", "PRN", "AUX", "NUL"} | {f"{p}{d}" for p in ("COM", "LPT") for d in "123456789"}
SAFE = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_")

failures = 0


def fail(text):
    global failures
    failures += 1
    print(f"MISMATCH: {text}")


def escaped(id_bytes):
    """The id's bytes with every byte but ASCII letters, digits, '-' and '_'
    written %XX (uppercase hexadecimal)."""
    return "".join(chr(b) if b in SAFE else f"%{b:02X}" for b in id_bytes)


def is_reserved(id_text):
    """Whether Windows reserves the id as a file name: a device name, in any
    case, alone or before an extension (CON, con.txt)."""
    return id_text.split(".", 1)[0].upper() in RESERVED


def file_stem(id_text):
    """gauge_file_stem(): the id's bytes (UTF-8) made a safe file name."""
    if id_text == "":
        return "_"
    stem = escaped(id_text.encode("utf-8", "surrogateescape"))
    return "_" + stem if is_reserved(id_text) else stem


def read_csv(path, header):
    """The rows of a UTF-8 CSV file after its header, which must be `header`;
    None (after saying why) where it cannot be read."""
    try:
        # Bytes that are not UTF-8 kept as they are (surrogate escapes), so
        # that an id's stem is made of its bytes.
        with open(path, newline="", encoding="utf-8", errors="surrogateescape") as file:
            rows = list(csv.reader(file))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        fail(f"{path}: cannot be read: {error}")
        return None
    if not rows or rows[0] != header:
        fail(f"{path}: header {rows[0] if rows else None}, not {header}")
        return None
    return rows[1:]


def number(text):
    """A value of a file: a float, or None where the field is empty."""
    return None if text == "" else float(text)


def read_series(path):
    """The paired days of a gauge's CSV: two float64 arrays, simulated and
    observed, of the days where both are discharges."""
    rows = read_csv(path, SERIES_HEADER)
    if rows is None:
        return None
    simulated, observed = [], []
    for line, row in enumerate(rows, start=2):
        if len(row) != 3:
            fail(f"{path}: line {line} has {len(row)} fields, not 3")
            return None
        try:
            s, o = number(row[1]), number(row[2])
        except ValueError:
            fail(f"{path}: line {line}: {row[1:]} are not numbers")
            return None
        if s is not None and o is not None and math.isfinite(s) and math.isfinite(o) \
                and s >= 0 and o >= 0:
            # The simulated values are single-precision floats, written as
            # the shortest text that reads back as the same float.
            simulated.append(float(np.float32(s)))
            observed.append(o)
    return np.array(simulated, dtype=np.float64), np.array(observed, dtype=np.float64)


def defined(value):
    """The value where it is finite, otherwise None (undefined)."""
    return float(value) if value is not None and np.isfinite(value) else None


def kge_of(r, variability, beta):
    """1 - the distance of (r, variability, beta) from (1, 1, 1)."""
    if r is None or variability is None or beta is None:
        return None
    return defined(1 - np.sqrt((r - 1) ** 2 + (variability - 1) ** 2 + (beta - 1) ** 2))


def total(x):
    """The correctly rounded sum of x (math.fsum); infinite or NaN, as numpy
    has it, where it goes beyond the doubles."""
    try:
        return math.fsum(x)
    except (OverflowError, ValueError):
        return float(np.sum(x))


def mean(x):
    """The mean, from the correctly rounded sum (math.fsum): numpy's own sum
    can be an ulp off, which for flows that vary little about a large mean
    moves every deviation, and so the variances, in their leading digits."""
    return total(x) / len(x)


def centred(x, y):
    """The sum of (x - mean(x)) (y - mean(y)), with the correction of the
    two-pass formula for the rounding of the means (Chan, Golub and LeVeque
    1983): the deviations' own sums, zero but for that rounding."""
    dx, dy = x - mean(x), y - mean(y)
    return total(dx * dy) - total(dx) * total(dy) / len(x)


def log_nse_of(s, o, mean_o, varies):
    """The NSE of ln(s + e) against ln(o + e), e = mean(o) / 100. The
    logarithms are differenced as log1p of ratios, ln(s + e) - ln(o + e) =
    log1p((s - o) / (o + e)), and taken about ln(mean(o) + e), which centring
    removes anyway: the same values, without cancelling the leading digits of
    flows that differ little from each other."""
    e = mean_o / 100
    if not varies or not (np.isfinite(e) and e > 0):
        return None
    errors = total(np.log1p((s - o) / (o + e)) ** 2)
    logs = np.log1p((o - mean_o) / (mean_o + e))
    variation = centred(logs, logs)
    return defined(1 - errors / variation) if variation > 0 else None


def scores_of(s, o):
    """Every score of the paired days, None where undefined."""
    scores = dict.fromkeys(SCORES)
    if len(s) < 2:
        return scores
    mean_s, mean_o = defined(mean(s)), defined(mean(o))
    scores.update(mean_sim=mean_s, mean_obs=mean_o)
    if mean_s is None or mean_o is None:
        return scores
    # A series varies where not all its values are equal; its variance is
    # then positive, whatever the rounding of its mean.
    s_varies, o_varies = np.ptp(s) > 0, np.ptp(o) > 0
    ss, oo, so = centred(s, s), centred(o, o), centred(s, o)
    ss, oo = max(ss, 0.0), max(oo, 0.0)  # never negative but for rounding
    sd_s, sd_o = math.sqrt(ss / len(s)), math.sqrt(oo / len(o))
    errors = total((s - o) ** 2)
    scores["rmse"] = defined(math.sqrt(errors / len(s)))
    # Flows whose squares go beyond the doubles (above 1e154) leave the
    # scores made of those sums undefined, not 0 or 1 from a division by
    # infinity.
    if o_varies and oo > 0 and np.isfinite(oo):
        scores["nse"] = defined(1 - errors / oo)
        if np.isfinite(ss) and np.isfinite(so):
            scores["alpha"] = defined(sd_s / sd_o)
            if s_varies:
                scores["r"] = defined(np.clip(so / (math.sqrt(ss) * math.sqrt(oo)), -1, 1))
    if mean_o > 0:
        scores["beta"] = defined(mean_s / mean_o)
        scores["pbias"] = defined(100 * total(s - o) / total(o))
        if scores["alpha"] is not None and mean_s > 0:
            scores["gamma"] = defined((sd_s / mean_s) / (sd_o / mean_o))
    scores["log_nse"] = log_nse_of(s, o, mean_o, o_varies)
    scores["kge"] = kge_of(scores["r"], scores["alpha"], scores["beta"])
    scores["kge_prime"] = kge_of(scores["r"], scores["gamma"], scores["beta"])
    return scores


def agree(name, written, computed, floors):
    """Whether a score of the file is the one computed, to its nine digits."""
    floor = floors.get(name, ABSOLUTE)
    return abs(written - computed) <= RELATIVE * max(abs(written), abs(computed)) + floor


def check_gauge(row, series_dir):
    """Every field of a line of metrics.csv against the gauge's series."""
    fields = dict(zip(METRICS_HEADER, row))
    gauge = fields["id"]
    stem = file_stem(gauge)
    path = os.path.join(series_dir, stem + ".csv")
    if not os.path.isfile(path):
        other = stem[1:] if stem.startswith("_") and is_reserved(gauge) else "_" + stem
        also = f" (there is {other}.csv)" if os.path.isfile(os.path.join(series_dir, other + ".csv")) else ""
        fail(f"gauge {gauge!r}: no series file {stem}.csv{also}")
        return
    series = read_series(path)
    if series is None:
        return
    s, o = series
    for key in ("column", "row", "days"):
        if not fields[key].isdigit():
            fail(f"gauge {gauge!r}: {key} {fields[key]!r} is not a whole number")
            return
    if int(fields["days"]) != len(s):
        fail(f"gauge {gauge!r}: days {fields['days']}, but {stem}.csv pairs {len(s)} days")
    expected = scores_of(s, o)
    # The sizes below which rounding alone can make two computations differ.
    floors = dict.fromkeys(DISCHARGES, 0.0)
    if len(s) >= 2 and expected["mean_obs"]:
        floors["pbias"] = ABSOLUTE * 100 * float(np.mean(np.abs(s - o))) / expected["mean_obs"]
    for name in SCORES:
        try:
            written = number(fields[name])
        except ValueError:
            fail(f"gauge {gauge!r}: {name} {fields[name]!r} is not a number")
            continue
        computed = expected[name]
        if (written is None) != (computed is None):
            fail(f"gauge {gauge!r}: {name} is {fields[name] or 'empty'}, should be "
                 f"{'empty' if computed is None else f'{computed:.17g}'} ({len(s)} paired days)")
        elif written is not None and not agree(name, written, computed, floors):
            fail(f"gauge {gauge!r}: {name} is {fields[name]}, numpy gives {computed:.17g} "
                 f"(relative difference {(written - computed) / computed if computed else math.inf:.3g})")


def main():
    if len(sys.argv) != 3:
        print("usage: scores_check.py METRICS_CSV SERIES_DIR", file=sys.stderr)
        return 2
    metrics, series_dir = sys.argv[1], sys.argv[2]
    rows = read_csv(metrics, METRICS_HEADER)
    if rows is None:
        return 1
    stems = {}
    for line, row in enumerate(rows, start=2):
        if len(row) != len(METRICS_HEADER):
            fail(f"{metrics}: line {line} has {len(row)} fields, not {len(METRICS_HEADER)}")
            continue
        stem = file_stem(row[0])
        if stem in stems:
            fail(f"gauges {stems[stem]!r} and {row[0]!r} share the series file {stem}.csv")
        stems[stem] = row[0]
        with np.errstate(all="ignore"):
            check_gauge(row, series_dir)
    if failures:
        print(f"{failures} mismatch(es) in {len(rows)} gauge(s)")
        return 1
    print(f"{len(rows)} gauge(s): every score agrees with numpy")
    return 0


if __name__ == "__main__":
    sys.exit(main())
