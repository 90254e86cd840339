"""tavro-compare: several records or saved outputs side by side in one table.

    tavro-compare a.json b.json                  # a text table
    tavro-compare a.json b.txt --markdown        # for pasting into reviews
    tavro-compare a.json b.json --csv out.csv    # with every context field

One row per input and point of its sweeps: the label (the processor's
brand as the runs printed it, else the file name; --label), threads, grid,
workload, duration, valid runs, the score's average as tavro's table gives
it, the median and standard deviation of the valid sub-runs, tavro's
max/min spread, and the ratio of the average to the first input's at the
same point. Sweeps of the same variable line up by value; a ratio between
rows of another workload, grid, duration or version is warned of on the
error stream.
"""

import argparse
import csv
import json
import re
import sys

from tavro_results import checks, record
from tavro_results.cli import run
from tavro_results.output import InputError

PROG = "tavro-compare"
COLUMNS = ["input", "sweep", "threads", "grid", "workload", "duration", "valid", "average",
           "median", "stddev", "max/min", "ratio"]
NUMBER_COLUMNS = {"threads", "grid", "duration", "valid", "average", "median", "stddev",
                  "max/min", "ratio"}
# What two rows must share for the ratio of their scores to mean anything.
COMPARABLE = (("workload", "workload"), ("grid", "grid"), ("duration_s", "duration"),
              ("version", "version"))
NUMBER_RE = re.compile(r"^[0-9]{1,9}$", re.ASCII)


def points(records, labels):
    """Every input's table rows as dicts, ordered by variable (as they first
    appear), then value, then input."""
    rows = []
    for k, (rec, label) in enumerate(zip(records, labels)):
        for sweep in rec["result"]["sweeps"]:
            for row in sweep["table"]:
                runs = record.row_runs(sweep, row)
                _, median, deviation = checks.summary(row["scores"])
                rows.append({
                    "input_index": k, "input": label, "variable": sweep["variable"],
                    "value": row["value"],
                    "threads": record.common(r["threads"] for r in runs),
                    "grid": record.common(r["grid"] for r in runs),
                    "workload": record.row_setting(sweep, runs, "workload"),
                    "duration_s": record.row_setting(sweep, runs, "duration_s"),
                    "version": record.row_setting(sweep, runs, "version"),
                    "median": median, "stddev": deviation,
                    "valid_runs": sum(s is not None for s in row["scores"]),
                    "sub_runs": len(row["scores"]),
                    "average": row["average"], "spread_percent": row["spread_percent"],
                })
    if not rows:
        raise InputError("the inputs hold no results to compare")
    variables = list(dict.fromkeys(r["variable"] for r in rows))

    order = {v: k for k, v in enumerate(variables)}
    firsts = {}
    for r in rows:
        firsts.setdefault((r["variable"], r["value"]), len(firsts))
    # Numbers in ascending order, names as they first appear.
    rows.sort(key=lambda r: (order[r["variable"]],
                             (0, int(r["value"])) if NUMBER_RE.match(r["value"])
                             else (1, firsts[(r["variable"], r["value"])]), r["input_index"]))
    for r in rows:
        reference = next((x for x in rows if (x["variable"], x["value"]) ==
                          (r["variable"], r["value"]) and x["input_index"] == 0), None)
        base = reference["average"] if reference else None
        r["ratio"] = r["average"] / base if base and r["average"] is not None else None
        r["unlike"] = [name for key, name in COMPARABLE if r["ratio"] is not None
                       and r["input_index"] and r[key] != reference[key]]
        r["reference"] = reference["input"] if reference else None
    return rows


def unlike_warnings(rows):
    """One line per input whose ratios set it against runs of another kind."""
    found = {}
    for r in rows:
        if r["unlike"]:
            entry = found.setdefault((r["input"], r["reference"]), [set(), []])
            entry[0].update(r["unlike"])
            entry[1].append(r["variable"] if r["variable"] == "none"
                            else f"{r['variable']} {r['value']}")
    return [f"{label} and {reference} differ in {', '.join(n for _, n in COMPARABLE if n in what)}"
            f" ({', '.join(where)}): their ratio does not compare like with like"
            for (label, reference), (what, where) in found.items()]


def cells(row, with_sweep):
    text = lambda v, form="{}": "---" if v is None else form.format(v)
    found = {
        "input": row["input"],
        "sweep": row["variable"] if row["variable"] == "none" else f"{row['variable']} {row['value']}",
        "threads": text(row["threads"]), "grid": text(row["grid"]),
        "workload": text(row["workload"]), "duration": text(row["duration_s"], "{} s"),
        "valid": f"{row['valid_runs']}/{row['sub_runs']}", "average": text(row["average"], "{:.2f}"),
        "median": text(row["median"], "{:.2f}"), "stddev": text(row["stddev"], "{:.2f}"),
        "max/min": text(row["spread_percent"], "{:.2f}%"), "ratio": text(row["ratio"], "{:.2f}"),
    }
    return [found[c] for c in columns(with_sweep)]


def columns(with_sweep):
    return [c for c in COLUMNS if with_sweep or c != "sweep"]


def text_table(rows, with_sweep):
    names = columns(with_sweep)
    table = [names] + [cells(r, with_sweep) for r in rows]
    widths = [max(len(line[c]) for line in table) for c in range(len(names))]

    def line(items):
        return "  ".join(item.rjust(w) if name in NUMBER_COLUMNS else item.ljust(w)
                         for item, w, name in zip(items, widths, names)).rstrip()

    rule = "  ".join("-" * w for w in widths)
    return "\n".join([line(table[0]), rule] + [line(items) for items in table[1:]]) + "\n"


def markdown_table(rows, with_sweep):
    names = columns(with_sweep)
    escape = lambda text: text.replace("|", "\\|")
    lines = ["| " + " | ".join(names) + " |",
             "|" + "|".join("---:" if n in NUMBER_COLUMNS else "---" for n in names) + "|"]
    lines += ["| " + " | ".join(escape(c) for c in cells(r, with_sweep)) + " |" for r in rows]
    return "\n".join(lines) + "\n"


def flatten(value, prefix, into):
    """Nested objects as dotted keys; lists as JSON text."""
    if isinstance(value, dict):
        for key, item in value.items():
            flatten(item, f"{prefix}.{key}", into)
    elif isinstance(value, list):
        into[prefix] = json.dumps(value, ensure_ascii=False)
    else:
        into[prefix] = value


def write_csv(rows, records, names, stream):
    """The table's rows with the numbers unrounded and every field of each
    input's record around its result."""
    extra = []
    for rec, name in zip(records, names):
        fields = {"file": name}
        for key in ("source", "date_utc", "command", "exit_code", "tavro", "warnings", "context"):
            flatten(rec.get(key), key, fields)
        extra.append(fields)
    keys = list(dict.fromkeys(k for fields in extra for k in fields))
    out = csv.writer(stream, lineterminator="\n")
    row_keys = ["input", "variable", "value", "threads", "grid", "workload", "duration_s",
                "version", "valid_runs", "sub_runs", "average", "median", "stddev",
                "spread_percent", "ratio"]
    out.writerow(row_keys + keys)
    cell = lambda v: "" if v is None else v
    for r in rows:
        fields = extra[r["input_index"]]
        out.writerow([cell(r[k]) for k in row_keys] + [cell(fields.get(k)) for k in keys])


def parse_arguments(argv, prog):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Prints tavro records or saved outputs side by side in one table, "
        "with the ratio of each average to the first input's.",
    )
    parser.add_argument("inputs", nargs="+", metavar="INPUT",
                        help="a record of tavro-record or tavro's saved output ('-': standard input)")
    parser.add_argument("--label", action="append", default=[],
                        help="the label of the next input (repeat it; default: the processor, "
                        "else the file name)")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--markdown", action="store_true", help="a Markdown table")
    form.add_argument("--csv", metavar="FILE",
                      help="CSV with every context field ('-': standard output)")
    args = parser.parse_args(argv)
    args.prog = prog
    if len(args.label) > len(args.inputs):
        parser.error(f"{len(args.label)} labels for {len(args.inputs)} inputs")
    return args


def compare(args):
    records = record.load_inputs(args.inputs)
    rows = points(records, record.labels(records, args.inputs, args.label))
    with_sweep = any(r["variable"] != "none" for r in rows)
    for warning in unlike_warnings(rows):
        print(f"{args.prog}: warning: {warning}", file=sys.stderr)
    sys.stderr.flush()
    if args.csv and args.csv != "-":
        with open(args.csv, "w", newline="", encoding="utf-8") as stream:
            write_csv(rows, records, args.inputs, stream)
    elif args.csv:
        write_csv(rows, records, args.inputs, sys.stdout)
    else:
        sys.stdout.write((markdown_table if args.markdown else text_table)(rows, with_sweep))
    sys.stdout.flush()
    return 0


def main(argv=None, prog=PROG):
    """The command; prog is the name it was started under."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv, prog)
    return run(prog, lambda: compare(args))
