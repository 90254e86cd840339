"""tavro-report: one self-contained HTML page of many records.

    tavro-report results/*.json -o report.html          # files, folders or globs
    tavro-report results/ --official SHA256SUMS -o r.html
    tavro-report results/ --strict -o r.html            # leave out what fails a check

The page ranks machines within categories of comparable results (the same
workload, grid, duration, tavro version and thread setting), draws a bar
chart per category and the scaling curves of every sweep, checks every
record (checks.py) and gives each record a section with its context, its
warnings, its runs and its raw output. Everything is inline: CSS, SVG
charts (matplotlib's SVG backend) and a small script that sorts and
filters the tables; the page needs nothing else, and without scripts or on
paper the tables stand in score order.
"""

import argparse
import glob
import html
import io
import os
import re
import sys

from tavro_results import chart, checks, record
from tavro_results.cli import run
from tavro_results.output import InputError, excerpt

PROG = "tavro-report"
SHA256_RE = re.compile(r"^([0-9a-f]{64}) [ *]", re.ASCII)
INPUT_SUFFIXES = (".json", ".txt")

CSS = """
body{font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;
 margin:0 auto;max-width:1400px;padding:0 16px 40px;color:#1b1b1b;background:#fff}
h1{font-size:1.6em;margin:.8em 0 .2em}h2{font-size:1.3em;margin:1.6em 0 .4em;
 border-bottom:1px solid #ccc;padding-bottom:.2em}h3{font-size:1.08em;margin:1.2em 0 .3em}
.wrap{overflow-x:auto;margin:.4em 0 1em}
table{border-collapse:collapse;font-size:.86em;font-variant-numeric:tabular-nums}
th,td{border:1px solid #d4d4d4;padding:3px 6px;text-align:left;vertical-align:top}
th{background:#f1f3f5;white-space:nowrap}td.n{text-align:right;white-space:nowrap}
tbody tr:nth-child(even){background:#fafafa}
th button{font:inherit;font-weight:bold;background:none;border:0;padding:0;cursor:pointer;
 color:inherit}th button:focus-visible{outline:2px solid #1a5fb4}
th[aria-sort=ascending] button::after{content:" \\25B2"}
th[aria-sort=descending] button::after{content:" \\25BC"}
svg{max-width:100%;height:auto;display:block}
.chart{overflow-x:auto}.chart svg{width:100%;max-width:860px}
td.m{min-width:8em}td.s{min-width:7em}td.d{white-space:nowrap}
.ok{color:#1d7a1d}.fail{color:#b3261e;font-weight:bold}.note{color:#8a5a00}
.muted{color:#555}.tag{display:inline-block;border:1px solid currentColor;border-radius:3px;
 padding:0 4px;font-size:.85em}
#filter{padding:6px 0}
#filter input{font:inherit;padding:4px 6px;width:min(28em,90%)}
pre{background:#f6f6f6;padding:8px;overflow-x:auto;font-size:.82em;line-height:1.3}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;font-size:.9em}
dl.facts dt{color:#444}dl.facts dd{margin:0;overflow-wrap:anywhere}
.charts{display:flex;flex-wrap:wrap;gap:12px}.charts>div{flex:1 1 520px;min-width:0}
section.machine{border-top:3px solid #d4d4d4;margin-top:2em}
@media (max-width:600px){body{font-size:14px;padding:0 8px 24px}th,td{padding:2px 4px}
 .chart svg{min-width:600px}
 dl.facts{grid-template-columns:1fr}dl.facts dd{margin-bottom:4px}}
@media print{body{font-size:10px;max-width:none;padding:0}#filter{display:none}
 th{white-space:normal}td.m,td.s{min-width:0}td.n,td.d{white-space:normal}.wrap{overflow:visible}a{color:inherit;text-decoration:none}
 section.machine{break-before:page}svg{max-width:100%}}
"""

SCRIPT = """
(function () {
  "use strict";
  var filter = document.getElementById("filter");
  var box = filter.querySelector("input");
  filter.hidden = false;
  box.addEventListener("input", function () {
    var words = box.value.toLowerCase().split(/\\s+/).filter(Boolean);
    document.querySelectorAll("table.ranking tbody tr").forEach(function (row) {
      var text = row.textContent.toLowerCase();
      row.hidden = !words.every(function (w) { return text.indexOf(w) >= 0; });
    });
  });
  document.querySelectorAll("table.sortable").forEach(function (table) {
    table.querySelectorAll("thead th").forEach(function (th, column) {
      var button = document.createElement("button");
      button.type = "button";
      button.textContent = th.textContent;
      th.textContent = "";
      th.appendChild(button);
      button.addEventListener("click", function () { sort(table, th, column); });
    });
  });
  function key(row, column) {
    var cell = row.children[column];
    var value = cell.getAttribute("data-sort");
    if (value === null) { return cell.textContent.trim().toLowerCase(); }
    return value === "" ? null : Number(value);
  }
  function sort(table, th, column) {
    var up = th.getAttribute("aria-sort") !== "ascending";
    table.querySelectorAll("thead th").forEach(function (other) {
      other.removeAttribute("aria-sort");
    });
    th.setAttribute("aria-sort", up ? "ascending" : "descending");
    var body = table.tBodies[0];
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a, column), y = key(b, column);
      if (x === y) { return 0; }
      if (x === null) { return 1; }   // empty cells last, either way
      if (y === null) { return -1; }
      return (x < y ? -1 : 1) * (up ? 1 : -1);
    });
    rows.forEach(function (row) { body.appendChild(row); });
  }
})();
"""


class Input:
    """One record with what the page says about it."""

    def __init__(self, index, name, rec):
        self.index = index
        self.name = name
        self.file = "standard input" if name == "-" else os.path.basename(name)
        self.record = rec
        self.machine = record.processor(rec) or self.file
        self.findings = checks.check_record(rec)
        self.failures = checks.failures(self.findings)
        self.build = None  # "official" or "custom" with --official
        self.anchor = f"record-{index + 1}"


def expand(names):
    """Files as given; a folder's records and outputs in name order; a
    pattern's matches (for shells that pass it on unexpanded)."""
    found = []
    for name in names:
        if name == "-" or os.path.isfile(name):
            found.append(name)
        elif os.path.isdir(name):
            inside = sorted(os.path.join(name, n) for n in os.listdir(name)
                            if n.lower().endswith(INPUT_SUFFIXES))
            found += [n for n in inside if os.path.isfile(n)]
        elif glob.has_magic(name):
            matches = sorted(n for n in glob.glob(name) if os.path.isfile(n))
            if not matches:
                raise InputError(f"no file matches {excerpt(name, 200)}")
            found += matches
        else:
            raise InputError(f"no such file or folder: {excerpt(name, 200)}")
    if not found:
        raise InputError("no records or saved outputs among the inputs")
    return found


def official_hashes(paths):
    """The SHA-256 sums of checksum files as sha256sum writes them."""
    hashes = set()
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as stream:
            for line in stream:
                match = SHA256_RE.match(line.lstrip("\ufeff"))
                if match:
                    hashes.add(match.group(1))
    if not hashes:
        raise InputError("no SHA-256 sums in the --official files")
    return hashes


# ---- the categories and their rows -------------------------------------

def thread_setting(rec, sweep, threads):
    """One thread, all cores (tavro's default, one thread per core) or a
    stated count."""
    if threads == 1:
        return "1 thread"
    command = rec.get("command")
    if command and sweep["variable"] != "threads":
        options = command[1:]
        stated = [options[k + 1] for k, o in enumerate(options[:-1]) if o in ("-n", "--numthreads")]
        stated += [o.split("=", 1)[1] for o in options if o.startswith("--numthreads=")]
        if not stated or stated[-1] == "0":
            return "all cores"
    return "? threads" if threads is None else f"{threads} threads"


def entries(inputs):
    """Every row of every results table that has a score, with what ranks it."""
    found = []
    for item in inputs:
        rec = item.record
        context = rec.get("context") or {}
        for sweep in rec["result"]["sweeps"]:
            for row in sweep["table"]:
                runs = record.row_runs(sweep, row)
                average, median, deviation = checks.summary(row["scores"])
                workload = record.row_setting(sweep, runs, "workload")
                if average is None or workload is None:
                    continue
                threads = record.common(r["threads"] for r in runs)
                isa = record.common(r["isa"] for r in runs)
                category = (workload, record.common(r["grid"] for r in runs),
                            record.row_setting(sweep, runs, "duration_s"),
                            record.row_setting(sweep, runs, "version"),
                            thread_setting(rec, sweep, threads),
                            None if isa in (None, "default_isa") else isa)
                found.append({
                    "input": item, "category": category, "threads": threads,
                    "score": average, "median": median, "stddev": deviation,
                    "spread": row["spread_percent"],
                    "valid": sum(s is not None for s in row["scores"]),
                    "sub_runs": len(row["scores"]), "context": context,
                    "sweep": sweep["variable"], "value": row["value"],
                })
    return found


def category_title(category):
    workload, grid, duration, version, threads, isa = category
    parts = [workload, "? grid" if grid is None else f"{grid}\u00b3 grid",
             "? s" if duration is None else f"{duration} s", threads,
             f"tavro {version or '?'}"]
    return ", ".join(parts + ([f"ISA {isa}"] if isa else []))


def ranked(rows):
    """Rows that pass every check by score, then those that fail one."""
    return sorted(rows, key=lambda e: (bool(e["input"].failures), -e["score"]))


# ---- HTML --------------------------------------------------------------

def esc(value):
    return html.escape("" if value is None else str(value), quote=True)


def num(value, form="{:.2f}"):
    return "\u2014" if value is None else form.format(value)


def td(text, sort=None, numeric=False, raw=False):
    attributes = ""
    if sort is not None or numeric:
        value = "" if sort is None or sort == "" else repr(float(sort))
        attributes += f' data-sort="{value}"'
    if numeric:
        attributes += ' class="n"'
    return f"<td{attributes}>{text if raw else esc(text)}</td>"


def table(headers, rows, classes=""):
    head = "".join(f'<th scope="col">{esc(h)}</th>' for h in headers)
    body = "\n".join(f"<tr>{''.join(cells)}</tr>" for cells in rows)
    return (f'<div class="wrap"><table class="{classes}"><thead><tr>{head}</tr></thead>'
            f"<tbody>\n{body}\n</tbody></table></div>")


def mark(item):
    """The checks' mark of a record, as its rows show it."""
    if item.failures:
        count = len(item.failures)
        return (f'<a class="fail" href="#{item.anchor}-checks">\u2717 fails '
                f'{count} check{"s" if count > 1 else ""}</a>')
    notes = [f for f in item.findings if f.kind == "note"]
    text = '<span class="ok">\u2713 checked</span>'
    if notes:
        text += f' <a class="note" href="#{item.anchor}-checks">{len(notes)} note' \
                f'{"s" if len(notes) > 1 else ""}</a>'
    if item.build:
        text += f' <span class="tag">{esc(item.build)} build</span>'
    return text


def gib(value):
    return None if value is None else f"{value / 2**30:.1f} GiB"


def machine_cells(entry, rank):
    item, context = entry["input"], entry["context"]
    processor = context.get("processor") or {}
    kernel = context.get("kernel") or {}
    cores, cpus = processor.get("cores"), processor.get("threads")
    counts = ("\u2014" if cores is None and cpus is None
              else f"{num(cores, '{}')} / {num(cpus, '{}')}")
    system = " ".join(v for v in (kernel.get("distribution"), kernel.get("release")) if v)
    spread = entry["spread"]
    date = (item.record.get("date_utc") or "")[:10]
    return [
        td(num(rank, "{}"), sort=rank if rank is not None else "", numeric=True),
        f'<td class="m"><a href="#{item.anchor}">{esc(item.machine)}</a></td>',
        td(counts, sort=cores if cores is not None else ""),
        td(gib((context.get("memory") or {}).get("total_bytes")) or "\u2014",
           sort=(context.get("memory") or {}).get("total_bytes") or ""),
        f'<td class="s">{esc(system or chr(0x2014))}</td>',
        td(num(entry["threads"], "{}"), sort=entry["threads"] or "", numeric=True),
        td(f"<b>{num(entry['score'])}</b>", sort=entry["score"], numeric=True, raw=True),
        td(num(entry["median"]), sort=entry["median"], numeric=True),
        td(num(entry["stddev"]), sort=entry["stddev"] if entry["stddev"] is not None else "",
           numeric=True),
        td(num(spread, "{:.2f}%"), sort=spread if spread is not None else "", numeric=True),
        td(f"{entry['valid']}/{entry['sub_runs']}", sort=entry["valid"], numeric=True),
        f'<td class="d">{esc(date or chr(0x2014))}</td>',
        td(mark(item), sort=len(item.failures), raw=True),
        td(item.file),
    ]


RANKING_HEADERS = ["rank", "machine", "cores/CPUs", "memory", "system", "threads",
                   "score (MGups)", "median", "std dev", "max/min", "valid", "date",
                   "checks", "file"]


def ranking_section(number, category, rows, charts):
    title = category_title(category)
    body, rank = [], 0
    for entry in rows:
        if not entry["input"].failures:
            rank += 1
        body.append(machine_cells(entry, None if entry["input"].failures else rank))
    parts = [f'<h3 id="category-{number}">{esc(title)}</h3>',
             table(RANKING_HEADERS, body, "ranking sortable")]
    if charts:
        parts.append(charts.bar_chart(rows, title))
    return "\n".join(parts)


def efficiency_table(inputs):
    """Per input with a thread sweep: score / (threads x one-thread score)."""
    rows = []
    for item in inputs:
        for sweep in item.record["result"]["sweeps"]:
            if sweep["variable"] != "threads":
                continue
            averages = {row["value"]: checks.summary(row["scores"])[0] for row in sweep["table"]}
            one = averages.get("1")
            for row in sweep["table"]:
                average = averages[row["value"]]
                count = int(row["value"]) if re.fullmatch(r"[0-9]{1,6}", row["value"]) else None
                efficiency = (average / (count * one) if average is not None and one and count
                              else None)
                rows.append([
                    td(f'<a href="#{item.anchor}">{esc(item.machine)}</a>', raw=True),
                    td(item.file), td(row["value"], sort=count or "", numeric=True),
                    td(num(average), sort=average if average is not None else "", numeric=True),
                    td(num(None if efficiency is None else efficiency * 100, "{:.0f}%"),
                       sort=efficiency if efficiency is not None else "", numeric=True)])
    if not rows:
        return ""
    return ("<h3>Scaling efficiency</h3><p>score / (threads \u00d7 the one-thread score of the "
            "same sweep)</p>" + table(["machine", "file", "threads", "score (MGups)",
                                      "efficiency"], rows, "sortable"))


def facts(pairs):
    items = "".join(f"<dt>{esc(k)}</dt><dd>{esc(v)}</dd>" for k, v in pairs
                    if v not in (None, "", []))
    return f'<dl class="facts">{items}</dl>'


def flat_context(context):
    pairs = []

    def walk(value, prefix):
        if isinstance(value, dict):
            for key, item in value.items():
                if key != "lscpu":
                    walk(item, f"{prefix}.{key}" if prefix else key)
        elif isinstance(value, list) and value and all(isinstance(v, dict) for v in value):
            for k, item in enumerate(value):
                walk(item, f"{prefix}[{k}]")
        elif isinstance(value, list):
            pairs.append((prefix, ", ".join(str(v) for v in value)))
        else:
            pairs.append((prefix, value))

    walk(context, "")
    return pairs


def machine_section(item, charts):
    rec = item.record
    tavro = rec.get("tavro") or {}
    parts = [f'<section class="machine" id="{item.anchor}">',
             f"<h2>{esc(item.machine)} <span class=\"muted\">\u2014 {esc(item.file)}</span></h2>",
             facts([("file", item.name), ("source", rec.get("source")),
                    ("date (UTC)", rec.get("date_utc")),
                    ("command", " ".join(rec.get("command") or [])),
                    ("exit code", rec.get("exit_code")),
                    ("tavro", tavro.get("version")), ("binary", tavro.get("path")),
                    ("SHA-256", tavro.get("sha256")),
                    ("build", f"{item.build} build" if item.build else None)])]
    parts.append(f'<h3 id="{item.anchor}-checks">Checks</h3><ul>')
    for name, text in checks.CHECKS.items():
        failed = [f for f in item.failures if f.check == name]
        if failed:
            parts.append(f'<li><span class="fail">\u2717 {esc(text)}</span><ul>'
                         + "".join(f"<li>{esc(f.message)}</li>" for f in failed) + "</ul></li>")
        else:
            parts.append(f'<li><span class="ok">\u2713</span> {esc(text)}</li>')
    notes = [f for f in item.findings if f.kind == "note"]
    parts += [f'<li><span class="note">! {esc(f.message)}</span></li>' for f in notes]
    parts.append("</ul>")
    run_warnings = sorted({w for s in rec["result"]["sweeps"] for r in s["runs"]
                           for w in r["warnings"]})
    if rec.get("warnings") or run_warnings:
        parts.append("<h3>Warnings</h3><ul>" + "".join(
            f"<li>{esc(w)}</li>" for w in (rec.get("warnings") or []) + run_warnings) + "</ul>")
    context = rec.get("context")
    if context:
        parts.append("<h3>Context</h3>" + facts(flat_context(context)))
        if context.get("lscpu"):
            parts.append("<details><summary>lscpu</summary>"
                         + facts(context["lscpu"].items()) + "</details>")
    else:
        parts.append("<p class=\"muted\">No context: made from a saved output.</p>")
    frequency = rec.get("frequency")
    if frequency and frequency.get("over_time"):
        parts.append("<h3>Frequency during the run</h3>")
        if charts:
            parts.append(charts.frequency_chart(frequency, item.machine))
        parts.append(table(["CPU", "samples", "min MHz", "median MHz", "max MHz"], [
            [td(c["cpu"], numeric=True, sort=c["cpu"]), td(c["samples"], numeric=True,
                                                           sort=c["samples"]),
             td(num(c["min_mhz"], "{:.0f}"), numeric=True, sort=c["min_mhz"]),
             td(num(c["median_mhz"], "{:.0f}"), numeric=True, sort=c["median_mhz"]),
             td(num(c["max_mhz"], "{:.0f}"), numeric=True, sort=c["max_mhz"])]
            for c in frequency["per_cpu"]]))
    parts.append("<h3>Runs</h3>")
    for number, sweep in enumerate(rec["result"]["sweeps"], start=1):
        parts.append(f"<p><b>Sweep {number}: {esc(sweep['variable'])}</b>, "
                     f"{sweep['sub_runs']} sub-run{'s' if sweep['sub_runs'] != 1 else ''} "
                     "per value</p>")
        for r in sweep["runs"]:
            head = (f"run {r['number']}: {esc(sweep['variable'])} {esc(r['value'])}, sub-run "
                    f"{esc(r['sub_run'])}, {num(r['threads'], '{}')} thread(s), grid "
                    f"{num(r['grid'], '{}')} \u2014 ")
            head += (f"<b>{num(r['score'])} MGups</b>" if r["valid"] else
                     '<span class="fail">invalid</span>'
                     + (f": {esc('; '.join(r['invalid_reason']))}" if r["invalid_reason"] else ""))
            rows = [[td(t["thread"], numeric=True, sort=t["thread"]),
                     td(t["grid_updates"], numeric=True, sort=t["grid_updates"]),
                     td(num(t["time_s"], "{:.2f} s"), numeric=True,
                        sort=t["time_s"] if t["time_s"] is not None else ""),
                     td(num(t["mgups"]), numeric=True,
                        sort=t["mgups"] if t["mgups"] is not None else ""),
                     td(t["iterations"], numeric=True, sort=t["iterations"])]
                    for t in sorted(r["per_thread"], key=lambda t: t["thread"])]
            parts.append(f"<p>{head}</p>")
            if rows:
                parts.append(table(["thread", "grid updates", "time", "MGups", "iterations"],
                                   rows))
    parts.append("<details><summary>Raw output</summary><pre>"
                 + esc(rec.get("raw_output") or "") + "</pre></details>")
    parts.append(f'<p><a href="#top">\u2191 top</a></p></section>')
    return "\n".join(parts)


def page(inputs, title, strict, charts, official):
    rows = entries(inputs)
    left_out = [i for i in inputs if i.failures] if strict else []
    if strict:
        rows = [e for e in rows if not e["input"].failures]
    categories = {}
    for entry in rows:
        categories.setdefault(entry["category"], []).append(entry)
    # The categories with the most machines first, then by name.
    order = sorted(categories, key=lambda c: (-len({e["input"].machine for e in categories[c]}),
                                             category_title(c)))
    out = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
           '<meta name="viewport" content="width=device-width, initial-scale=1">',
           f"<title>{esc(title)}</title><style>{CSS}</style></head>",
           f'<body><h1 id="top">{esc(title)}</h1>']
    failing = [i for i in inputs if i.failures]
    out.append(f"<p>{len(inputs)} input{'s' if len(inputs) != 1 else ''}, "
               f"{len({i.machine for i in inputs})} machine name(s), {len(order)} "
               f"categor{'ies' if len(order) != 1 else 'y'} of comparable results. "
               "Results are ranked only within a category: the same workload, grid, "
               "duration, tavro version and thread setting. The score is the average of a "
               "row's valid sub-runs.</p>")
    if failing:
        verb = "are left out of the rankings (--strict)" if strict else \
            "are ranked after the others, marked \u2717"
        out.append(f'<p class="fail">{len(failing)} record(s) fail a check and {verb}: '
                   + ", ".join(f'<a href="#{i.anchor}">{esc(i.file)}</a>' for i in failing)
                   + "</p>")
    if official is not None:
        out.append(f"<p>Official builds: records whose binary's SHA-256 is in the given "
                   f"checksum files ({len(official)} sums); others are custom builds.</p>")
    if charts is not None and charts.missing:
        out.append(f'<p class="note">{esc(charts.missing)}: the page has no charts.</p>')
    out.append('<div id="filter" hidden><label>Filter the rankings: <input type="search" '
               'placeholder="any text: a machine, a system, a file"></label></div>')
    out.append("<h2>Rankings</h2>")
    if order:
        out.append("<ul>" + "".join(f'<li><a href="#category-{k + 1}">'
                                    f"{esc(category_title(c))}</a> ({len(categories[c])})</li>"
                                    for k, c in enumerate(order)) + "</ul>")
    else:
        out.append("<p>No result to rank.</p>")
    for k, category in enumerate(order):
        out.append(ranking_section(k + 1, category, ranked(categories[category]), charts))
    kept = [i for i in inputs if i not in left_out]
    swept = [i for i in kept if any(s["variable"] != "none" and s["table"]
                                    for s in i.record["result"]["sweeps"])]
    if swept:
        out.append("<h2>Scaling</h2>")
        if charts:
            out.append(charts.scaling_charts(swept))
        out.append(efficiency_table(swept))
    out.append("<h2>Records</h2>")
    out.append(table(["#", "machine", "file", "source", "date", "checks"], [
        [td(i.index + 1, sort=i.index, numeric=True),
         td(f'<a href="#{i.anchor}">{esc(i.machine)}</a>', raw=True), td(i.file),
         td(i.record.get("source")), td(i.record.get("date_utc") or "\u2014"),
         td(mark(i), raw=True, sort=len(i.failures))] for i in inputs], "sortable"))
    for item in inputs:
        out.append(machine_section(item, charts))
    out.append(f"<script>{SCRIPT}</script></body></html>")
    return "\n".join(out) + "\n"


# ---- charts ------------------------------------------------------------

class Charts:
    """The page's charts as inline SVG."""

    def __init__(self):
        self.count = 0
        self.missing = None
        try:
            import matplotlib
        except ImportError:
            self.missing = chart.MISSING_MATPLOTLIB
            return
        matplotlib.use("Agg")
        matplotlib.rcParams.update({"svg.fonttype": "none", "font.size": 10,
                                    "font.family": "sans-serif"})

    def __bool__(self):
        return self.missing is None

    def svg(self, figure, label):
        """The figure as an <svg> element with a title that names it."""
        import matplotlib
        import matplotlib.pyplot as plt

        self.count += 1
        # Ids differ from chart to chart, as they share one page.
        matplotlib.rcParams["svg.hashsalt"] = f"tavro-chart-{self.count}"
        buffer = io.StringIO()
        try:
            figure.savefig(buffer, format="svg", metadata={"Date": None})
        finally:
            plt.close(figure)
        text = buffer.getvalue()
        text = text[text.index("<svg"):]
        text = re.sub(r"<metadata>.*?</metadata>", "", text, flags=re.S)
        text = text.replace("<svg ", f'<svg role="img" aria-label="{esc(label)}" ', 1)
        return f'<div class="chart">{text}</div>'

    def bar_chart(self, rows, title):
        import matplotlib.pyplot as plt

        labels = [f"{e['input'].machine} ({e['input'].file})" for e in rows]
        labels = [label if len(label) <= 60 else label[:57] + "..." for label in labels]
        scores = [e["score"] for e in rows]
        colors = ["#b3261e" if e["input"].failures else "#3b6ea8" for e in rows]
        figure, ax = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.3), layout="constrained")
        positions = list(range(len(rows)))[::-1]
        ax.barh(positions, scores, color=colors,
                xerr=[e["stddev"] or 0 for e in rows], ecolor="#555", capsize=3)
        ax.set_yticks(positions, labels)
        top = max(scores + [1])
        for y, score in zip(positions, scores):
            ax.text(score + top * 0.01, y, f" {score:.2f}", va="center", fontsize=9)
        ax.set_xlim(0, top * 1.25)
        ax.set_xlabel("score (MGups), \u00b1 std dev")
        ax.grid(True, axis="x", alpha=0.3)
        ax.set_title(title, fontsize=10)
        return self.svg(figure, f"bar chart: {title}")

    def scaling_charts(self, inputs):
        import matplotlib.pyplot as plt

        records = [i.record for i in inputs]
        labels = [f"{i.machine} ({i.file})" for i in inputs]
        drawn = []
        for one in chart.make_charts(records, labels):
            if one.variable == "none":
                continue
            figure, ax = plt.subplots(figsize=(8, 4.2 + 0.22 * len(one.series)),
                                      layout="constrained")
            chart.draw_chart(one, ax, single=len(records) == 1)
            # Below the axes, where it hides no point.
            ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.16), fontsize="small",
                      frameon=False)
            drawn.append(self.svg(figure, f"{one.variable} sweep"))
        return '<div class="charts">' + "".join(drawn) + "</div>" if drawn else ""

    def frequency_chart(self, frequency, machine):
        import matplotlib.pyplot as plt

        samples = frequency["over_time"]
        times = [s["time_s"] for s in samples]
        figure, ax = plt.subplots(figsize=(7, 2.8), layout="constrained")
        ax.fill_between(times, [s["min_mhz"] for s in samples], [s["max_mhz"] for s in samples],
                        color="#9bb7d9", alpha=0.5, label="min to max over the CPUs")
        ax.plot(times, [s["median_mhz"] for s in samples], color="#1a4f8b", label="median")
        ax.set_xlabel("time since the start of the run (s)")
        ax.set_ylabel("MHz")
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
        ax.legend(loc="lower right", fontsize="small")
        return self.svg(figure, f"frequency during the run: {machine}")


# ---- the command -------------------------------------------------------

def parse_arguments(argv, prog):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Writes one self-contained HTML page of tavro records and saved outputs: "
        "rankings of comparable results with bar charts, scaling curves, the checks of "
        "every record and a section per record.",
    )
    parser.add_argument("inputs", nargs="+", metavar="INPUT",
                        help="a record of tavro-record, a saved output, a folder of them or a "
                        "glob pattern ('-': standard input)")
    parser.add_argument("-o", "--output", required=True, metavar="FILE",
                        help="the HTML page to write ('-': standard output)")
    parser.add_argument("--official", action="append", default=[], metavar="SHA256SUMS",
                        help="a release's checksum file (repeat it for several): records whose "
                        "binary is among them are official builds, others custom builds")
    parser.add_argument("--strict", action="store_true",
                        help="leave the records that fail a check out of the rankings and charts")
    parser.add_argument("--title", default="tavro results", help="the page's title")
    args = parser.parse_args(argv)
    return args


def report(args):
    names = expand(args.inputs)
    records = record.load_inputs(names)
    official = official_hashes(args.official) if args.official else None
    inputs = [Input(k, name, rec) for k, (name, rec) in enumerate(zip(names, records))]
    for item in inputs:
        if official is not None:
            sha = (item.record.get("tavro") or {}).get("sha256")
            item.build = "official" if sha in official else "custom"
    try:
        text = page(inputs, args.title, args.strict, Charts(), official)
    except (InputError, OSError):
        raise
    except Exception as error:  # a chart library failure, never a traceback
        raise InputError(f"cannot make the page: {type(error).__name__}: "
                         f"{excerpt(error, 100)}") from None
    if args.output == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
    else:
        with open(args.output, "w", encoding="utf-8") as stream:
            stream.write(text)
    return 0


def main(argv=None, prog=PROG):
    """The command; prog is the name it was started under."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv, prog)
    return run(prog, lambda: report(args))
