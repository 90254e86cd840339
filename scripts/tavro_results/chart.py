"""plot_sweep: draws the sweeps of tavro outputs or records as charts.

    tavro --harness-var size --harness-opt 64-384 | tee run.txt
    plot_sweep run.txt -o sweep.png                # or .svg
    plot_sweep a.json b.txt -o both.png            # one series per input
    plot_sweep run.txt --csv sweep.csv             # the numbers for spreadsheets
    tavro ... | plot_sweep -o sweep.svg            # standard input

One input: every sweep's results table is one chart, the score in MGups
against the swept value, each sub-run a point and the row's average a line
(sizes and thread counts on a log2 axis); the default sweep, which changes
nothing, shows its sub-runs in order. Several inputs: one chart per swept
variable with one series per input, labelled as tavro-compare labels them.
Invalid sub-runs are marked on the zero line; a thread sweep marks the core
count of a record's machine. Needs matplotlib (Debian: python3-matplotlib)
for charts; --csv needs no more than Python.
"""

import argparse
import csv
import math
import sys

from tavro_results import record
from tavro_results.cli import run
from tavro_results.output import InputError

PROG = "plot_sweep"
MISSING_MATPLOTLIB = (
    "matplotlib is missing; install Debian's python3-matplotlib "
    "(apt-get install python3-matplotlib)"
)
# Variables whose values double from one useful point to the next.
LOG2_VARIABLES = ("size", "threads")
NUMERIC_VARIABLES = ("size", "threads", "duration")
AXIS_NAMES = {"size": "grid size N (N\u00b3 cells per thread)", "duration": "duration (s)"}


class Series:
    """One sweep of one input, as drawn."""

    def __init__(self, sweep, label, cores):
        self.sweep = sweep
        self.label = label
        self.cores = cores  # the machine's core count, where its record knows it
        self.points = []  # (x, score) of every valid sub-run
        self.invalid = []  # x of every invalid sub-run
        self.average = []  # (x, average or NaN) in x order: a gap where no run was valid

    def add(self, xs, scores):
        for x, score in zip(xs, scores):
            if score is None:
                self.invalid.append(x)
            else:
                self.points.append((x, score))


class Chart:
    """One chart: series that share a variable, in the axis' coordinates."""

    def __init__(self, series):
        self.series = series
        self.variable = series[0].sweep["variable"]
        self.log2 = False
        if self.variable == "none":
            self.none_axis()
            return
        rows = [row for s in series for row in s.sweep["table"]]
        values = numeric_values(self.variable, [row["value"] for row in rows])
        if values is None:  # names, or no number axis: the values in order
            order = list(dict.fromkeys(row["value"] for row in rows))
            position = {label: k for k, label in enumerate(order)}
        else:
            position = {row["value"]: int(row["value"]) for row in rows}
        for s in series:
            table = sorted(s.sweep["table"], key=lambda row: position[row["value"]])
            for row in table:
                x = position[row["value"]]
                s.add([x] * len(row["scores"]), row["scores"])
                s.average.append((x, math.nan if row["average"] is None else row["average"]))
        self.ticks = sorted({p: v for v, p in position.items()}.items())
        self.log2 = values is not None and self.variable in LOG2_VARIABLES
        self.numeric = values is not None
        self.x_label = AXIS_NAMES.get(self.variable, self.variable)

    def none_axis(self):
        # One row per series: its sub-runs in order, the average across them.
        longest = 1
        for s in self.series:
            scores, average = s.sweep["table"][0]["scores"], s.sweep["table"][0]["average"]
            xs = list(range(1, len(scores) + 1))
            s.add(xs, scores)
            if average is not None and xs:
                s.average = [(xs[0] - 0.25, average), (xs[-1] + 0.25, average)]
            longest = max(longest, len(xs))
        self.ticks = [(x, str(x)) for x in range(1, longest + 1)]
        self.numeric = False
        self.x_label = "sub-run"

    def title(self, single):
        sweeps = [s.sweep for s in self.series]
        runs = [r for sweep in sweeps for r in sweep["runs"]]
        kind = "repeated runs" if self.variable == "none" else f"{self.variable} sweep"
        workload = record.common(r["workload"] for r in runs) or (
            "unknown workload" if single else "mixed workloads")
        line = f"{kind} \u2013 {workload}, {settings(runs, sweeps)}"
        return f"{self.series[0].label}\n{line}" if single else line


def numeric_values(variable, labels):
    """The swept values as numbers, or None when they are names or the
    chart cannot place them on a number axis."""
    if variable not in NUMERIC_VARIABLES:
        return None
    try:
        values = [int(label) for label in labels]
    except ValueError:
        return None
    if variable in LOG2_VARIABLES and min(values, default=1) <= 0:
        return None  # a thread count of 0 (automatic) has no place on a log axis
    return values


def settings(runs, sweeps):
    """The settings that every run printed alike, as the title says them."""
    parts = []
    threads = record.common((r["threads"], r["threading"]) if r["threads"] is not None else None
                            for r in runs)
    if threads is not None:
        count, manager = threads
        parts.append(f"{count} thread{'s' if count != 1 else ''} ({manager})")
    grid = record.common(r["grid"] for r in runs)
    if grid is not None:
        parts.append(f"{grid}\u00b3 grid")
    duration = record.common(r["duration_s"] for r in runs)
    if duration is not None:
        parts.append(f"{duration} s")
    sub_runs = record.common(s["sub_runs"] for s in sweeps)
    if sub_runs is not None:
        parts.append(f"{sub_runs} sub-run{'s' if sub_runs != 1 else ''}")
    return ", ".join(parts)


def make_charts(records, labels):
    """One chart per sweep of a single input; with several inputs, one
    chart per swept variable holding every input's sweeps of it."""
    series = []
    for rec, label in zip(records, labels):
        cores = record.context_value(rec, "processor", "cores")
        sweeps = [s for s in rec["result"]["sweeps"] if s["table"]]
        seen = {}
        for sweep in sweeps:
            variable = sweep["variable"]
            seen[variable] = seen.get(variable, 0) + 1
            repeated = sum(s["variable"] == variable for s in sweeps) > 1
            name = f"{label} (sweep {seen[variable]})" if repeated and len(records) > 1 else label
            series.append(Series(sweep, name, cores))
    if not series:
        raise InputError("the sweeps planned no runs: nothing to draw")
    if len(records) == 1:
        return [Chart([s]) for s in series]
    variables = list(dict.fromkeys(s.sweep["variable"] for s in series))
    return [Chart([s for s in series if s.sweep["variable"] == v]) for v in variables]


def make_figure(records, labels):
    """The charts, stacked in one matplotlib figure."""
    try:
        import matplotlib
    except ImportError:
        raise InputError(MISSING_MATPLOTLIB) from None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    charts = make_charts(records, labels)
    figure, axes = plt.subplots(len(charts), 1, figsize=(7, 4.2 * len(charts)), squeeze=False,
                                layout="constrained")
    for chart, ax in zip(charts, axes[:, 0]):
        draw_chart(chart, ax, single=len(records) == 1)
    return figure


def draw_chart(chart, ax, single):
    from matplotlib.ticker import FixedLocator, NullLocator

    if chart.log2:
        ax.set_xscale("log", base=2)
    top = 1
    for k, s in enumerate(chart.series):
        color = None if single else f"C{k}"
        if s.average:
            ax.plot(*zip(*s.average), "-", color=color or "tab:blue",
                    label="average" if single else s.label, zorder=2)
        ax.plot(*(zip(*s.points) if s.points else ([], [])), "o", color=color or "tab:orange",
                alpha=1 if single else 0.6, label="sub-run" if single else None, zorder=3)
        if s.invalid:
            ax.plot(s.invalid, [0] * len(s.invalid), "x", color=color or "tab:red", ms=9,
                    label="invalid sub-run" if single else None, zorder=3, clip_on=False)
        top = max([top] + [y for _, y in s.points])
    if chart.variable == "threads" and chart.numeric:
        mark_cores(ax, chart.series)
    marked = {s.cores for s in chart.series if s.cores} if chart.variable == "threads" else set()
    ticks = sorted(dict(chart.ticks + [(c, str(c)) for c in marked if chart.numeric]).items())
    ax.xaxis.set_major_locator(FixedLocator([x for x, _ in ticks]))
    ax.xaxis.set_minor_locator(NullLocator())
    ax.set_xticklabels([label for _, label in ticks])
    if len(ticks) == 1:
        x = ticks[0][0]
        ax.set_xlim(*((x / 2, x * 2) if chart.log2 else (x - 1, x + 1)))
    ax.set_ylim(bottom=0, top=top * 1.15)
    ax.set_xlabel(chart.x_label)
    ax.set_ylabel("score (MGups)")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="best", fontsize="small")
    ax.set_title(chart.title(single), fontsize="medium")


def mark_cores(ax, series):
    """A line at each core count the records know: in the colour of its one
    series, grey when several series share it."""
    counts = {}
    for k, s in enumerate(series):
        if s.cores:
            counts.setdefault(s.cores, []).append((k, s.label))
    for cores, owners in counts.items():
        everyone = len(owners) == len(series)
        color = "tab:gray" if len(owners) > 1 or len(series) == 1 else f"C{owners[0][0]}"
        names = "" if everyone else " (" + ", ".join(label for _, label in owners) + ")"
        ax.axvline(cores, linestyle=":", color=color, zorder=1, label=f"{cores} cores{names}")


def draw(records, labels, path):
    figure = make_figure(records, labels)
    try:
        figure.savefig(path, dpi=100)
    finally:
        import matplotlib.pyplot as plt

        plt.close(figure)


def write_csv(records, labels, stream):
    sweeps = [(rec, label, number, s) for rec, label in zip(records, labels)
              for number, s in enumerate(rec["result"]["sweeps"], start=1)]
    width = max(s["sub_runs"] for *_, s in sweeps)
    out = csv.writer(stream, lineterminator="\n")
    out.writerow(["input", "processor", "workload", "threads", "size", "duration", "version",
                  "sweep", "variable", "value"] + [f"run {k + 1}" for k in range(width)]
                 + ["average", "max/min %"])
    cell = lambda v: "" if v is None else v
    score = lambda v: "" if v is None else f"{v:.2f}"
    for rec, label, number, sweep in sweeps:
        for row in sweep["table"]:
            runs = record.row_runs(sweep, row)
            known = lambda key: record.row_setting(sweep, runs, key)
            padded = row["scores"] + [None] * (width - len(row["scores"]))
            out.writerow(
                [label, cell(record.processor(rec)), cell(known("workload")),
                 cell(record.common(r["threads"] for r in runs)),
                 cell(record.common(r["grid"] for r in runs)),
                 cell(known("duration_s")), cell(known("version")),
                 number, sweep["variable"], row["value"]]
                + [score(s) for s in padded] + [score(row["average"]), score(row["spread_percent"])])


def parse_arguments(argv, prog):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Draws the sweeps of saved tavro outputs or records as charts (score "
        "against the swept value, one series per input), or writes their numbers as CSV.",
    )
    parser.add_argument("inputs", nargs="*", default=["-"], metavar="INPUT",
                        help="tavro's saved output or a record of tavro-record "
                        "(default: standard input)")
    parser.add_argument("-o", "--output", help="chart to write: a .png or .svg file")
    parser.add_argument("--csv", metavar="FILE", help="write the results as CSV ('-': standard output)")
    parser.add_argument("--label", action="append", default=[],
                        help="the label of the next input (repeat it; default: the processor, "
                        "else the file name)")
    args = parser.parse_args(argv)
    if not args.output and not args.csv:
        parser.error("nothing to do: give -o CHART.png|.svg and/or --csv FILE")
    if args.output and not args.output.lower().endswith((".png", ".svg")):
        parser.error(f"the chart's name must end in .png or .svg: {args.output}")
    if len(args.label) > len(args.inputs):
        parser.error(f"{len(args.label)} labels for {len(args.inputs)} inputs")
    return args


def plot(args):
    records = record.load_inputs(args.inputs)
    labels = record.labels(records, args.inputs, args.label)
    try:
        if args.csv == "-":
            write_csv(records, labels, sys.stdout)
            sys.stdout.flush()
        elif args.csv:
            with open(args.csv, "w", newline="", encoding="utf-8") as stream:
                write_csv(records, labels, stream)
        if args.output:
            draw(records, labels, args.output)
    except (InputError, OSError):
        raise
    except Exception as error:  # a chart library failure, never a traceback
        raise InputError(f"cannot make the chart: {type(error).__name__}: {error}") from None
    return 0


def main(argv=None, prog=PROG):
    """The command; prog is the name it was started under (tavro-plot when
    installed so)."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv, prog)
    return run(prog, lambda: plot(args))
