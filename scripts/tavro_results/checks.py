"""Checks that a record is what it says: every number of a run agrees with
the others it was printed from, to the rounding tavro prints them with.

check_record() returns findings: a "fail" is a record that contradicts
itself (tavro-record --from refuses such an output, tavro-report marks it
and --strict leaves it out); a "note" is a fact that a reader of a score
should know (an invalid sub-run, a warning recorded before the run).
"""

import statistics

from tavro_results import output

# tavro prints scores, rates and times with two decimals.
HALF_CENT = 0.005
# Lines that never belong to a valid run: the error stream's words for a failure.
FAILURE_WORDS = ("failed", "cannot", "aborting", "invalid", "error")

CHECKS = {
    "sum": "the score is the sum of the threads' rates",
    "threads": "one row per thread, numbered 0 to threads - 1",
    "updates": "each thread's updates are 2 x N\u00b3 x its iterations",
    "rate": "each thread's rate is its updates / its time",
    "table": "each sub-run's score is its cell of the results table",
    "average": "the average and the max/min spread are those of the sub-runs' scores",
    "errors": "no failure message in a valid run",
}


class Finding:
    def __init__(self, kind, check, message):
        self.kind, self.check, self.message = kind, check, message

    def __repr__(self):
        return f"{self.kind}: {self.message}"


def check_record(record):
    """Every finding about a record, in the order of its runs."""
    found = []
    for number, sweep in enumerate(record["result"]["sweeps"], start=1):
        where = f"sweep {number}" if len(record["result"]["sweeps"]) > 1 else "the sweep"
        for run in sweep["runs"]:
            found += check_run(run, f"run {run['number']} of {where}")
        found += check_table(sweep, where)
    warnings = record.get("warnings") or []
    found += [Finding("note", "before", f"warned before the run: {w}") for w in warnings]
    return found


def failures(findings):
    return [f for f in findings if f.kind == "fail"]


def check_run(run, name):
    if not run["valid"]:
        return []
    found = []

    def fail(check, message):
        found.append(Finding("fail", check, f"{name}: {message}"))

    rows = run["per_thread"]
    numbers = sorted(r["thread"] for r in rows)
    if run["threads"] is not None and (len(rows) != run["threads"]
                                       or numbers != list(range(len(rows)))):
        fail("threads", f"{len(rows)} per-thread rows for {run['threads']} threads"
             if len(rows) != run["threads"] else "the thread rows are not numbered 0 to "
             f"{run['threads'] - 1}")
    rates = [r["mgups"] for r in rows]
    if not rows or None in rates:
        fail("sum", "a valid run without the rate of every thread")
    elif abs(run["score"] - sum(rates)) > HALF_CENT * (len(rates) + 1) + 1e-9:
        fail("sum", f"the score {run['score']:.2f} is not the sum of the threads' rates "
             f"({sum(rates):.2f})")
    grid = run["grid"]
    for r in rows:
        if grid is not None and r["grid_updates"] != 2 * grid ** 3 * r["iterations"]:
            fail("updates", f"thread {r['thread']}: {r['grid_updates']} updates are not "
                 f"2 x {grid}\u00b3 x {r['iterations']} iterations")
        if r["mgups"] is None or r["time_s"] is None:
            continue
        low_time, high_time = r["time_s"] - HALF_CENT, r["time_s"] + HALF_CENT
        low = r["grid_updates"] / high_time / 1e6 - HALF_CENT if high_time > 0 else 0
        high = r["grid_updates"] / low_time / 1e6 + HALF_CENT if low_time > 0 else float("inf")
        if not low - 1e-9 <= r["mgups"] <= high + 1e-9:
            fail("rate", f"thread {r['thread']}: {r['mgups']:.2f} MGups is not "
                 f"{r['grid_updates']} updates in {r['time_s']:.2f} s")
    failed = [w for w in run["warnings"] if not any(p.match(w) for p in output.WARNING_LINES)
              and any(word in w.lower() for word in FAILURE_WORDS)]
    if failed:
        fail("errors", f"a valid run that also printed {failed[0][:80]!r}")
    return found


def check_table(sweep, where):
    found = []
    rows = {row["value"]: row for row in sweep["table"]}
    for run in sweep["runs"]:
        row = rows.get(run["value"])
        column = (run["sub_run"] or 0) - 1
        cell = row["scores"][column] if row and 0 <= column < len(row["scores"]) else None
        if run["valid"] and (cell is None or abs(cell - run["score"]) > HALF_CENT + 1e-9):
            found.append(Finding("fail", "table", f"run {run['number']} of {where}: its score "
                                 f"{run['score']:.2f} is not its table cell "
                                 f"({'---' if cell is None else f'{cell:.2f}'})"))
        elif not run["valid"]:
            found.append(Finding("note", "valid", f"run {run['number']} of {where} "
                                 f"({sweep['variable']} {run['value']}) was invalid"))
    for row in sweep["table"]:
        scores = [s for s in row["scores"] if s is not None]
        label = f"{where}, {sweep['variable']} {row['value']}"
        if not scores:
            if row["average"] is not None:
                found.append(Finding("fail", "average", f"{label}: an average without a "
                                     "valid sub-run"))
            continue
        mean = statistics.fmean(scores)
        if row["average"] is None or abs(row["average"] - mean) > 2 * HALF_CENT + 1e-9:
            printed = "---" if row["average"] is None else f"{row['average']:.2f}"
            found.append(Finding("fail", "average", f"{label}: the average {printed} is not "
                                 f"the mean of its scores ({mean:.2f})"))
        spread = row["spread_percent"]
        low, high = min(scores), max(scores)
        if low > HALF_CENT and spread is not None:
            least = ((high - HALF_CENT) / (low + HALF_CENT) - 1) * 100 - HALF_CENT
            most = ((high + HALF_CENT) / (low - HALF_CENT) - 1) * 100 + HALF_CENT
            if not max(least, 0) - 1e-9 - HALF_CENT <= spread <= most + 1e-9:
                found.append(Finding("fail", "average", f"{label}: the spread {spread:.2f}% is "
                                     f"not max/min - 1 of its scores "
                                     f"({(high / low - 1) * 100:.2f}%)"))
    return found


def summary(scores):
    """(average, median, standard deviation) of the valid sub-runs' scores;
    None for what they do not give."""
    scores = [s for s in scores if s is not None]
    if not scores:
        return None, None, None
    deviation = statistics.stdev(scores) if len(scores) > 1 else None
    return statistics.fmean(scores), statistics.median(scores), deviation
