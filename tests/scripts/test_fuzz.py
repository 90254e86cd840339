"""Seeded fuzzing of the tools' readers: mutations of the saved outputs and
records of tests/data/results go through tavro-record --from,
tavro-compare, plot_sweep --csv and tavro-report. Every one must end in a
record or a refusal of one printable line: never a traceback, never a hang,
never a record that fails a check.

TAVRO_FUZZ_COUNT (default 300) sets the number of mutations, half of the
outputs and half of the records; TAVRO_FUZZ_SEED (default 25) the seed."""

import contextlib
import glob
import io
import json
import os
import random
import re
import signal
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "results")
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from tavro_results import chart, checks, compare, record, recorder, report  # noqa: E402

COUNT = int(os.environ.get("TAVRO_FUZZ_COUNT", "300"))
SEED = int(os.environ.get("TAVRO_FUZZ_SEED", "25"))
# Seconds that one mutation may take through every tool before it counts as a hang.
HANG_S = 60
ODD_TOKENS = ["1e308", "9" * 5000, "\u00b9", "\u0663", "nan", "inf", "-0", "---", "", "0",
              "99999999999999999999", "1_000", "0x1f", "\x1b[31m", "\u202e", "\ufeff", "%",
              "( " * 3000, "\x00", "\r", "|", "!!HARNESS!!", "run 1/1"]
NUMBER = re.compile(r"[0-9]+(?:\.[0-9]+)?")
NUMBER_FIELDS = {"score", "average", "spread_percent", "grid_updates", "time_s", "mgups",
                 "iterations", "thread", "threads", "grid", "sub_run", "number", "sub_runs"}


class Hang(Exception):
    pass


def alarm(signum, frame):
    raise Hang()


def mutate_text(rng, text):
    lines = text.split("\n")
    for _ in range(rng.randint(1, 3)):
        lines = lines or [""]
        k = rng.randrange(len(lines))
        kind = rng.randrange(9)
        if kind == 0 and len(lines) > 1:
            del lines[k]
        elif kind == 1:
            lines.insert(k, lines[rng.randrange(len(lines))])
        elif kind == 2:
            j = rng.randrange(len(lines))
            lines[k], lines[j] = lines[j], lines[k]
        elif kind in (3, 4):
            numbers = list(NUMBER.finditer(lines[k]))
            if numbers:
                m = rng.choice(numbers)
                new = (rng.choice(ODD_TOKENS) if kind == 3 else
                       str(round(float(m.group()) * rng.choice([0.5, 1.01, 2, 10]), 2)))
                lines[k] = lines[k][:m.start()] + new + lines[k][m.end():]
        elif kind == 5:
            at = rng.randrange(len(lines[k]) + 1)
            lines[k] = lines[k][:at] + rng.choice(ODD_TOKENS) + lines[k][at:]
        elif kind == 6:
            lines = lines[:k]
        elif kind == 7:
            lines[k] = lines[k] + "\r" + rng.choice(lines)
        else:
            lines.insert(k, rng.choice(lines)[:25] + "( " * rng.choice([10, 5000, 60000]))
    joined = "\n".join(lines)
    return ("\ufeff" + joined) if rng.random() < 0.05 else joined


def paths(value, prefix=()):
    yield prefix
    if isinstance(value, dict):
        for key, item in value.items():
            yield from paths(item, prefix + (key,))
    elif isinstance(value, list):
        for k, item in enumerate(value):
            yield from paths(item, prefix + (k,))


def mutate_record(rng, rec):
    """A record with one to three changes, and the JSON text of it."""
    for _ in range(rng.randint(1, 3)):
        places = [p for p in paths(rec) if p]
        # Most changes are to numbers, which leave the record well formed
        # and test its checks; the others, to anything, test its schema.
        numbers = [p for p in places if isinstance(p[-1], str) and p[-1] in NUMBER_FIELDS]
        where = rng.choice(numbers if rng.random() < 0.6 else places)
        parent = rec
        for key in where[:-1]:
            parent = parent[key]
        key, old = where[-1], parent[where[-1]]
        kind = rng.randrange(8)
        if kind == 0 and isinstance(parent, dict):
            del parent[key]
            continue
        if numbers and where in numbers and isinstance(old, (int, float)) and kind < 6:
            new = type(old)(old * rng.choice([0, 0.5, 0.99, 1.01, 2]) + rng.choice([0, 1]))
        elif kind == 1 and isinstance(old, (int, float)) and not isinstance(old, bool):
            new = old * rng.choice([-1, 0, 1.01, 2, 1e300]) + rng.choice([0, 0.01, 1])
        elif kind == 2 and isinstance(old, list) and old:
            new = old + [old[0]] if rng.random() < 0.5 else old[1:]
        else:
            new = rng.choice([None, "", "\u00b9", "x" * 1000, "\x1b[2J", -1, 0, 10 ** 30, 1e308,
                              True, [], {}, [[[]]], {"a": 1}, "1", 2.5, "Infinity"])
        parent[key] = new
    text = json.dumps(rec, ensure_ascii=False)
    roll = rng.random()
    if roll < 0.03:
        text = text.replace('"score": ', '"score": ' + "9" * 5000 + " + ", 1)
    elif roll < 0.06:
        text = text[: rng.randrange(len(text))]
    elif roll < 0.08:
        text = text.replace('"result": {', '"result": ' + "[" * 50000 + "]" * 50000 + ', "x": {',
                            1)
    return text


class FuzzTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        signal.signal(signal.SIGALRM, alarm)
        self.addCleanup(signal.alarm, 0)
        self.counts = {}

    def tool(self, name, main, argv):
        """Runs one tool in this process; returns its exit code and its
        error stream."""
        errors, out = io.StringIO(), io.StringIO()
        with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(out):
            try:
                code = main(argv)
            except SystemExit as exit:  # argparse's own exits
                code = exit.code
        message = errors.getvalue()
        lines = [line for line in message.splitlines() if ": warning: " not in line]
        if code:
            self.assertEqual(code, 1, message)
            self.assertEqual(len(lines), 1, f"{name}: {message[:500]!r}")
            self.assertTrue(lines[0].startswith(f"{name}: "), lines[0][:200])
            self.assertLess(len(lines[0]), 1000, lines[0][:200])
            self.assertTrue(lines[0].isprintable(), repr(lines[0][:200]))
        self.counts[(name, code)] = self.counts.get((name, code), 0) + 1
        return code

    def test_mutated_outputs_and_records(self):
        rng = random.Random(SEED)
        outputs = [record.load_input(p)["raw_output"]
                   for p in sorted(glob.glob(os.path.join(DATA, "*.json")))]
        for name in ("none.txt", "threads.txt", "size_invalid.txt", "invalid_both_streams.txt"):
            with open(os.path.join(DATA, name), encoding="utf-8", newline="") as stream:
                outputs.append(stream.read())
        records = []
        for path in sorted(glob.glob(os.path.join(DATA, "*.json"))):
            with open(path, encoding="utf-8") as stream:
                records.append(json.load(stream))
        saved = os.path.join(self.folder.name, "saved.txt")
        made = os.path.join(self.folder.name, "made.json")
        mutated = os.path.join(self.folder.name, "mutated.json")
        csv_out = os.path.join(self.folder.name, "out.csv")
        html_out = os.path.join(self.folder.name, "out.html")
        accepted = 0
        for k in range(COUNT):
            case = f"seed {SEED}, mutation {k}"
            signal.alarm(HANG_S)
            try:
                if k % 2 == 0:
                    with open(saved, "w", encoding="utf-8", errors="surrogatepass") as stream:
                        stream.write(mutate_text(rng, rng.choice(outputs)))
                    if os.path.exists(made):
                        os.remove(made)
                    code = self.tool("tavro-record", recorder.main, ["--from", saved, "-o", made])
                    if code == 0:
                        accepted += 1
                        rec = record.load_input(made)  # checked against the schema
                        self.assertEqual(checks.failures(checks.check_record(rec)), [], case)
                else:
                    with open(mutated, "w", encoding="utf-8", errors="surrogatepass") as stream:
                        stream.write(mutate_record(rng, json.loads(json.dumps(
                            rng.choice(records)))))
                    self.tool("tavro-compare", compare.main, [mutated])
                    self.tool("plot_sweep", chart.main, [mutated, "--csv", csv_out])
                    # The page's charts take time: every tenth mutation draws them.
                    if k % 20 == 1:
                        self.tool("tavro-report", report.main, [mutated, "-o", html_out])
                    else:
                        self.tool("tavro-report", page_without_charts, [mutated])
            except Hang:
                self.fail(f"{case}: no end after {HANG_S} s")
            except AssertionError:
                raise
            except BaseException as error:
                raise AssertionError(f"{case}: {type(error).__name__}: {error!r:.300}") from error
            finally:
                signal.alarm(0)
        # The mutations reach both ends: records made and inputs refused.
        self.assertGreater(accepted, 0)
        self.assertGreater(self.counts.get(("tavro-record", 1), 0), 0)
        print(f"\n{COUNT} mutations (seed {SEED}): {sorted(self.counts.items())}",
              file=sys.stderr)


def page_without_charts(argv):
    def body():
        names = report.expand(argv)
        inputs = [report.Input(k, n, r) for k, (n, r)
                  in enumerate(zip(names, record.load_inputs(names)))]
        report.page(inputs, "fuzz", False, None, None)
        return 0

    return report.run("tavro-report", body)


if __name__ == "__main__":
    unittest.main()
