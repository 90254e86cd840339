"""The reader of tavro's console output: the one place that knows its lines.

parse_output() turns a saved output (standard output alone, as `| tee`
saves it, or both streams, as `2>&1` does) into the "result" object of a
record: every sweep with its plan, its runs and its results table. What
the error stream wrote is whatever line is none of the standard output's
own; for an invalid run those lines are its reason.
"""

import re

HARNESS = "!!HARNESS!!"
PLAN_START = "!!HARNESS!! run values:"
ESTIMATE_PREFIX = "!!HARNESS!! estimated total time = "
PROMPT = "press enter to exit"
DEFAULT_ISA = "default_isa"
# Every pattern is anchored, reads ASCII digits only, bounds its counts and
# has no two repeats that can share the same text, so that no line makes it
# backtrack; lines longer than any of tavro's own are not matched at all.
MAX_LINE = 2000
MARKER_RE = re.compile(r"^!!HARNESS!! run ([0-9]{1,9})/([0-9]{1,9})$", re.ASCII)
TITLE_RE = re.compile(r"^=====([a-z_]{1,32}) results=====$", re.ASCII)
RULE_RE = re.compile(r"^=+$")
# A number as tavro prints it: a score, an average, a spread, a time.
NUMBER_RE = re.compile(r"^-?[0-9]{1,15}(?:\.[0-9]{1,15})?$", re.ASCII)
PLANNED_NUMBER_RE = re.compile(r"^[0-9]{1,9}$", re.ASCII)

# The progress line; text after its iteration count was written by the
# error stream before the line was ended.
PROGRESS_RE = re.compile(r"benchmarking\.\.\. ([0-9]{1,9})/([0-9]{1,9})s +[^ ]{1,40} MGups  "
                         r"[0-9]{1,20} iterations", re.ASCII)
RUN_PATTERNS = [
    ("threads", re.compile(r"^running with ([0-9]{1,9}) threads? \(([a-z]{1,20})\)$", re.ASCII)),
    ("grid", re.compile(r"^([0-9]{1,9}) x \1 x \1 grid$", re.ASCII)),
    ("memory_per_thread",
     re.compile(r"^([0-9]{1,15}(?:\.[0-9]{1,15})? [KMGTPE]?i?B) per thread$", re.ASCII)),
    ("memory_total", re.compile(r"^([0-9]{1,15}(?:\.[0-9]{1,15})? [KMGTPE]?i?B) total$", re.ASCII)),
    ("coarse_timer", re.compile(r"^Coarse Timer Frequency: (.*)$")),
    ("allocating", re.compile(r"^allocating fields\.\.\.\.( \(large pages\))?$")),
    ("phase", re.compile(r"^(?:initalizing fields\.\.\.|starting bench\.\.|validating result\.\.)$")),
    ("initialization", re.compile(r"^initialization took (-?[0-9]{1,12})ms$", re.ASCII)),
    ("thread_header", re.compile(r"^ *thread +grid updates +time +MGups +iterations$")),
    ("thread_row", re.compile(r"^ *([0-9]{1,9}) +([0-9]{1,20}) +([^ ]{1,30})s +([^ ]{1,30}) "
                              r"+([0-9]{1,15})$", re.ASCII)),
    ("version", re.compile(r"^tavro v([^ ]{1,40}) ([^ ]{1,40})$")),
    ("score", re.compile(r"^final score: ([^ ]{1,40}) MGups$")),
    ("box_rule", re.compile(r"^=+$")),
]
FAST_TIMER_PREFIX = "Fast Timer Frequency: "
# What the error stream prints about a run that still goes on.
WARNING_LINES = [
    re.compile(r"^warning$"),
    re.compile(r"^Fast timer is not compliant with HWBOT rules \(fast timer source: .*\)$"),
    re.compile(r"^Check that this is a detection error in terms of your windows version, "
               r"processor, or timer before submitting$"),
]


class InputError(Exception):
    """The input is not a complete tavro output; the text says what is wrong."""


def excerpt(text, limit=40):
    """A short quotation of the input for a message: at most limit
    characters, each unprintable one (line ends, terminal escapes) written
    as its escape, so that a message is always one harmless line."""
    text = str(text)
    shown = "".join(c if c.isprintable() else c.encode("unicode_escape").decode("ascii")
                    for c in text[:limit])
    return "'" + shown + ("..." if len(text) > limit else "") + "'"


def console_lines(text):
    """(line number, text) of every line as the console shows it: CR LF read
    as a line end, a line rewritten after carriage returns (the progress
    line) as its last state, and error text written onto the end of a
    progress line as a line of its own."""
    lines = []
    if text.startswith("\ufeff"):  # a byte-order mark, as some editors save
        text = text[1:]
    for number, raw in enumerate(text.split("\n"), start=1):
        line = raw.rstrip("\r").split("\r")[-1].rstrip()
        progress = PROGRESS_RE.match(line) if len(line) <= MAX_LINE else None
        if progress and progress.end() < len(line):
            lines.append((number, line[: progress.end()]))
            line = line[progress.end():]
        lines.append((number, line))
    return lines


def reduce_progress(text):
    """The output with every run's progress updates reduced to the last one."""
    return "\n".join(raw.rstrip("\r").split("\r")[-1] for raw in text.split("\n"))


def number(text, line_number, what):
    """A score, average or spread of the results table; None for "---"."""
    if text == "---":
        return None
    bare = text[:-1] if what == "spread" and text.endswith("%") else text
    if not NUMBER_RE.match(bare):
        raise InputError(f"line {line_number}: cannot read {what} {excerpt(text)}")
    return float(bare)


def finite(text):
    """A number that a run printed, or None where it is no number as tavro
    prints them."""
    return float(text) if NUMBER_RE.match(text) else None


def new_sweep():
    return {"variable": None, "planned_values": None, "estimated_total_time": None,
            "sub_runs": 0, "runs": [], "table": []}


def new_run(number):
    return {
        "number": number, "value": None, "sub_run": None, "processor": None, "features": None,
        "threads": None, "threading": None, "grid": None, "memory_per_thread": None,
        "memory_total": None, "fast_timer": None, "fast_timer_source": None,
        "coarse_timer": None, "large_pages": None, "initialization_ms": None,
        "duration_s": None, "last_progress": None, "per_thread": [], "valid": None,
        "version": None, "workload": None, "isa": None, "score": None,
        "invalid_reason": None, "warnings": [],
    }


class RunReader:
    """Takes the lines that one run printed, after its processor and
    feature lines."""

    def __init__(self, run):
        self.run = run
        self.errors = []  # error-stream lines before the invalid-result box
        self.after_box = []
        self.invalid_box = False
        self.expect_processor = False

    def take(self, line):
        run = self.run
        if not line:
            return
        if self.expect_processor:
            self.expect_processor = False  # the valid result's processor line
            return
        if len(line) > MAX_LINE:
            (self.after_box if self.invalid_box else self.errors).append(line)
            return
        if self.progress(line):
            return
        if line.startswith(FAST_TIMER_PREFIX) and line.endswith(")") and " (" in line:
            # "Fast Timer Frequency: VALUE (SOURCE)"; the source is the last
            # parenthesis.
            value, _, source = line[len(FAST_TIMER_PREFIX):-1].rpartition(" (")
            run["fast_timer"], run["fast_timer_source"] = value, source
            return
        for name, pattern in RUN_PATTERNS:
            match = pattern.match(line)
            if match:
                self.known(name, match)
                return
        word = line.strip()
        if word == "invalid result":
            self.invalid_box = True
        elif word == "valid result":
            pass
        elif any(p.match(word) for p in WARNING_LINES):
            run["warnings"].append(word)
        else:
            (self.after_box if self.invalid_box else self.errors).append(line)

    def known(self, name, match):
        run = self.run
        if name == "threads":
            run["threads"], run["threading"] = int(match.group(1)), match.group(2)
        elif name == "grid":
            run["grid"] = int(match.group(1))
        elif name in ("memory_per_thread", "memory_total", "coarse_timer"):
            run[name] = match.group(1)
        elif name == "allocating":
            run["large_pages"] = match.group(1) is not None
        elif name == "initialization":
            run["initialization_ms"] = int(match.group(1))
        elif name == "thread_row":
            thread, updates, seconds, rate, iterations = match.groups()
            run["per_thread"].append({
                "thread": int(thread), "grid_updates": int(updates), "time_s": finite(seconds),
                "mgups": finite(rate), "iterations": int(iterations),
            })
        elif name == "version":
            run["version"], run["workload"] = match.groups()
            self.expect_processor = True
        elif name == "score":
            run["score"] = finite(match.group(1))
            if run["score"] is None:
                raise InputError(f"run {run['number']}: cannot read its final score "
                                 f"{excerpt(match.group(1))}")

    def progress(self, line):
        match = PROGRESS_RE.fullmatch(line) if len(line) <= MAX_LINE else None
        if not match:
            return False
        self.run["last_progress"] = line
        self.run["duration_s"] = int(match.group(2))
        return True

    def finish(self, variable, value, score):
        """Completes the run from its cell of the results table."""
        run = self.run
        run["value"] = value
        run["valid"] = score is not None
        run["isa"] = value if variable == "isa" else DEFAULT_ISA
        if run["duration_s"] is None and variable == "duration" and PLANNED_NUMBER_RE.match(value):
            run["duration_s"] = min(max(int(value), 1), 1000)  # as tavro clamps it
        printed_score = run["score"] is not None or run["version"] is not None
        if run["valid"] and self.invalid_box or not run["valid"] and printed_score:
            raise InputError(f"run {run['number']} does not match its cell in the "
                             f"{variable} results table")
        if run["valid"]:
            run["warnings"] += self.errors + self.after_box
            if run["score"] is None:
                run["score"] = score
        elif self.invalid_box or self.errors:
            run["invalid_reason"] = self.errors + self.after_box


def parse_output(text):
    """The result of a saved output: {"sweeps": [...], "messages": [...],
    "prompt": bool}. Raises InputError unless every sweep it starts is
    complete and there is at least one."""
    return Parser(console_lines(text)).parse()


class Parser:
    def __init__(self, lines):
        self.lines = lines
        self.i = 0
        self.sweeps = []
        self.messages = []  # error-stream lines outside every run
        self.prompt = False
        self.sweep = None  # the sweep whose results table is still to come
        self.readers = []  # one RunReader per run of self.sweep
        self.total_runs = None

    def fail(self, message):
        number = self.lines[min(self.i, len(self.lines) - 1)][0]
        raise InputError(f"line {number}: {message}")

    def parse(self):
        while self.i < len(self.lines):
            line = self.lines[self.i][1]
            if len(line) > MAX_LINE:  # none of tavro's own lines
                if self.readers:
                    self.readers[-1].take(line)
                else:
                    self.messages.append(line)
            elif line == PLAN_START:
                self.plan()
            elif MARKER_RE.match(line):
                self.marker(*(int(g) for g in MARKER_RE.match(line).groups()))
            elif line == HARNESS:
                self.table()
            elif self.readers:
                self.readers[-1].take(line)
            elif line == PROMPT:
                self.prompt = True
            elif line:
                self.messages.append(line)
            self.i += 1
        if self.sweep is not None:
            where = (f"during run {len(self.readers)}/{self.total_runs}" if self.readers
                     else "before its first run")
            raise InputError(f"the output ends {where}, before the sweep's results table "
                             "(truncated?)")
        if not self.sweeps:
            said = f" (tavro said: {excerpt(self.messages[0])})" if self.messages else ""
            raise InputError("no sweep results table found (is this tavro's output?)" + said)
        return {"sweeps": self.sweeps, "messages": self.messages, "prompt": self.prompt}

    def plan(self):
        if self.sweep is not None:
            self.fail("a new sweep starts before the results table of the sweep before it")
        self.sweep = new_sweep()
        self.sweep["planned_values"] = labels = []
        self.i += 1
        while self.i < len(self.lines):
            line = self.lines[self.i][1]
            if line.startswith(ESTIMATE_PREFIX):
                self.sweep["estimated_total_time"] = line[len(ESTIMATE_PREFIX):]
                return
            if line.startswith(HARNESS) or not line:
                self.fail("the list of planned values ends without the estimated total time")
            labels.append(line)
            self.i += 1

    def marker(self, k, n):
        if self.sweep is None:
            self.fail(f"run marker {k}/{n} without the sweep's list of planned values")
        if k != len(self.readers) + 1 or self.total_runs not in (None, n) or k > n:
            self.fail(f"run marker {k}/{n} out of order")
        self.total_runs = n
        run = new_run(k)
        self.sweep["runs"].append(run)
        self.readers.append(RunReader(run))
        # An empty line, then the processor and the feature list, whatever they say.
        if self.i + 1 < len(self.lines) and not self.lines[self.i + 1][1]:
            self.i += 1
        for key in ("processor", "features"):
            if self.i + 1 < len(self.lines) and not MARKER_RE.match(self.lines[self.i + 1][1]):
                self.i += 1
                run[key] = self.lines[self.i][1]

    def table(self):
        # A table without its plan (the start of the output was cut off)
        # still holds every score.
        sweep = self.sweep if self.sweep is not None else new_sweep()
        self.i = read_table(self.lines, self.i, sweep)
        rows = sweep["table"]
        if sweep["planned_values"] is not None:
            expected = len(rows) * sweep["sub_runs"]
            if len(self.readers) != expected or self.readers and self.total_runs != expected:
                raise InputError(f"the {sweep['variable']} results table does not match "
                                 f"the {len(self.readers)} runs before it")
            for reader in self.readers:
                row, column = divmod(reader.run["number"] - 1, sweep["sub_runs"])
                reader.run["sub_run"] = column + 1
                reader.finish(sweep["variable"], rows[row]["value"], rows[row]["scores"][column])
        self.sweeps.append(sweep)
        self.sweep, self.readers, self.total_runs = None, [], None
        self.i -= 1  # the main loop steps past the table's last line


def read_table(lines, i, sweep):
    """Reads the results table whose "!!HARNESS!!" line is lines[i] into
    the sweep; returns the index of the first line after it."""

    def line_at(j, what):
        if j >= len(lines) or not lines[j][1]:
            raise InputError(f"the output ends inside a results table, before its {what} "
                             "(truncated?)")
        return lines[j][1]

    def fail_at(j, message):
        raise InputError(f"line {lines[j][0]}: {message}")

    title = TITLE_RE.match(line_at(i + 1, "title"))
    if not title:
        fail_at(i + 1, "expected the results table's title")
    variable = sweep["variable"] = title.group(1)
    sub_runs = header_runs(line_at(i + 2, "header"), variable)
    if sub_runs is None:
        fail_at(i + 2, f"expected the header of the {variable} results table")
    sweep["sub_runs"] = sub_runs
    if not RULE_RE.match(line_at(i + 3, "rule line")):
        fail_at(i + 3, "expected the rule line of the results table")
    j = i + 4
    while j < len(lines):
        row = table_row(lines[j][1])
        if not row:
            break
        line_number = lines[j][0]
        value, cells, average, spread = row
        if len(cells) != sub_runs:
            fail_at(j, f"{len(cells)} sub-run scores where the header has {sub_runs}")
        sweep["table"].append({
            "value": value,
            "scores": [number(c, line_number, "score") for c in cells],
            "average": number(average, line_number, "average"),
            "spread_percent": number(spread, line_number, "spread"),
        })
        j += 1
    values = [row["value"] for row in sweep["table"]]
    planned = sweep["planned_values"]
    if planned is not None:
        if len(values) < len(planned):
            raise InputError(f"the {variable} results table ends after {len(values)} of its "
                             f"{len(planned)} rows (truncated?)")
        if values != planned:
            raise InputError(f"the {variable} results table does not match the planned values")
    return j


def header_runs(line, variable):
    """The number of sub-runs of the header " VARIABLE | run 1 run 2 | avg |
    max/min", or None when the line is not that header."""
    parts = line.split("|")
    if len(parts) != 4 or not line.startswith(" ") or parts[0][1:].rstrip(" ") != variable:
        return None
    if parts[2].split() != ["avg"] or parts[3].split() != ["max/min"] or not (
            parts[2].startswith(" ") and parts[3].startswith(" ") and parts[1].endswith(" ")):
        return None
    words = parts[1].split()
    if len(words) % 2 or any(w != "run" for w in words[::2]) or not all(
            PLANNED_NUMBER_RE.match(w) for w in words[1::2]):
        return None
    return len(words) // 2


def table_row(line):
    """(value, cells, average, spread) of a row " VALUE | cells | avg |
    spread", or None when the line is no row."""
    parts = line.split("|")
    if len(parts) != 4 or not line.startswith(" ") or len(line) > MAX_LINE:
        return None
    value = parts[0][1:].rstrip(" ")
    average, spread = parts[2].split(), parts[3].split()
    if (not value or " " in value or len(average) != 1 or len(spread) != 1
            or not parts[2].startswith(" ") or not parts[2].endswith(" ")
            or not parts[3].startswith(" ") or parts[3].endswith(" ")):
        return None
    return value, parts[1].split(), average[0], spread[0]
