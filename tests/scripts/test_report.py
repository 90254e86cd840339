"""Tests of the checks of records, of tavro-report's page and of the
defences of the tools' readers, on the records and outputs of
tests/data/results."""

import copy
import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "results")
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from tavro_results import checks, output, record, recorder  # noqa: E402

RECORDS = sorted(glob.glob(os.path.join(DATA, "*.json")))


def read(name):
    with open(os.path.join(DATA, name), encoding="utf-8", newline="") as stream:
        return stream.read()


def run_tool(name, *args, cwd=None):
    return subprocess.run([sys.executable, os.path.join(ROOT, "scripts", name), *args],
                          capture_output=True, text=True, timeout=120, cwd=cwd)


def failed_checks(rec):
    return sorted({f.check for f in checks.failures(checks.check_record(rec))})


class ChecksTest(unittest.TestCase):
    def test_real_records_and_outputs_pass(self):
        for path in RECORDS + [os.path.join(DATA, n) for n in
                               ("none.txt", "threads.txt", "size_invalid.txt",
                                "invalid_both_streams.txt")]:
            with self.subTest(os.path.basename(path)):
                self.assertEqual(failed_checks(record.load_input(path)), [])
        notes = checks.check_record(record.load_input(os.path.join(DATA, "size_invalid.txt")))
        self.assertEqual([f.check for f in notes], ["valid", "valid"])

    def test_each_check_fails_on_a_record_edited_against_it(self):
        base = record.load_input(os.path.join(DATA, "record_x86.json"))

        def edited(change):
            rec = copy.deepcopy(base)
            sweep = rec["result"]["sweeps"][0]
            change(sweep, sweep["runs"][2])  # a two-thread run
            return failed_checks(rec)

        def score(sweep, run):  # the score and its cell agree, not the threads
            run["score"] = sweep["table"][1]["scores"][0] = 150.0
            sweep["table"][1]["average"] = 123.37
            sweep["table"][1]["spread_percent"] = 55.07

        def duplicate(sweep, run):
            run["per_thread"][1] = dict(run["per_thread"][0])

        def updates(sweep, run):
            run["per_thread"][0]["grid_updates"] += 4194304 // 2

        def rate(sweep, run):
            run["per_thread"][0]["mgups"], run["per_thread"][1]["mgups"] = 41.88, 61.47

        def cell(sweep, run):
            sweep["table"][1]["scores"][0] = 103.36

        def average(sweep, run):
            sweep["table"][1]["average"] = 101.04

        def spread(sweep, run):
            sweep["table"][1]["spread_percent"] = 9.84

        def failure(sweep, run):
            run["warnings"].append("field allocation failed")

        def timer_warning(sweep, run):  # what a valid run with a bypassed check prints
            run["warnings"] += ["warning", "Check that this is a detection error in terms of "
                                "your windows version, processor, or timer before submitting"]

        cases = {score: ["sum"], duplicate: ["sum", "threads"], updates: ["rate", "updates"],
                 rate: ["rate"], cell: ["table"], average: ["average"],
                 spread: ["average"], failure: ["errors"], timer_warning: []}
        for change, expected in cases.items():
            with self.subTest(change.__name__):
                self.assertEqual(edited(change), expected)

    def test_from_refuses_a_self_contradicting_output(self):
        text = read("threads.txt")
        # The score of run 3 raised in its final line and its table cell alike.
        row = re.search(r"final score: (\S+) MGups", text[text.index("run 3/4"):]).group(1)
        broken = text.replace(f"final score: {row} MGups", "final score: 478.71 MGups")
        broken = broken.replace(f"|   {row}", "|   478.71")
        with tempfile.TemporaryDirectory() as folder:
            saved = os.path.join(folder, "run.txt")
            with open(saved, "w", encoding="utf-8") as stream:
                stream.write(broken)
            done = run_tool("tavro-record", "--from", saved, "-o", os.path.join(folder, "r.json"))
            self.assertEqual(done.returncode, 1)
            (message,) = done.stderr.splitlines()
            self.assertIn("is not the sum of the threads' rates", message)
            self.assertFalse(os.path.exists(os.path.join(folder, "r.json")))


class ReaderDefenceTest(unittest.TestCase):
    def test_hostile_text_is_read_or_refused_in_one_short_line(self):
        none = read("none.txt")
        self.assertEqual(output.parse_output("\ufeff" + none)["sweeps"][0]["variable"], "none")
        long_timer = "Fast Timer Frequency: " + "( " * 150000
        cases = {
            "escape in a score": none.replace("|   144.73", "|   \x1b[2J144.73"),
            "huge first line": "\x1b]0;x\x07" + "A" * 2_000_000 + "\n",
            "unicode digits": none.replace("!!HARNESS!! run 1/3", "!!HARNESS!! run \u00b9/3"),
            "a number of 5000 digits": none.replace("|   144.73", "|   " + "9" * 5000),
        }
        for name, text in cases.items():
            with self.subTest(name):
                with self.assertRaises(output.InputError) as raised:
                    output.parse_output(text)
                message = str(raised.exception)
                self.assertLess(len(message), 300, message[:300])
                self.assertTrue(message.isprintable(), message)
        # A timer line of 300 KB is read as an unknown line, at once.
        run = output.parse_output(none.replace("Fast Timer Frequency", long_timer + "\nFast T",
                                               1))["sweeps"][0]["runs"][0]
        self.assertIn(long_timer.rstrip(), run["warnings"])

    def test_records_are_checked_against_the_schema(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = {
                "no sweeps": ('{"schema_version": 1, "result": {}}', "is a required property"),
                "Infinity": (read("record_x86.json").replace('"score": 116.48',
                                                              '"score": Infinity'), "JSON"),
                "deep": ('{"schema_version": 1, "result": ' + "[" * 100000 + "]" * 100000
                         + "}", "not a valid JSON record"),
            }
            for name, (text, message) in cases.items():
                with self.subTest(name):
                    path = os.path.join(folder, "r.json")
                    with open(path, "w", encoding="utf-8") as stream:
                        stream.write(text)
                    for tool in ("tavro-compare", "tavro-report"):
                        done = run_tool(tool, path, *(["-o", "-"] if tool == "tavro-report"
                                                      else []))
                        self.assertEqual(done.returncode, 1)
                        (line,) = done.stderr.splitlines()
                        self.assertIn(message, line)

    def test_record_output_is_checked_before_the_run_and_saved_on_failure(self):
        for path in ("/nonexistent/x.json", tempfile.gettempdir()):
            with self.subTest(path):
                done = run_tool("tavro-record", "-o", path, "--tavro", "/nonexistent/tavro",
                                "--", "-d", "1")
                self.assertEqual(done.returncode, 1)
                (line,) = done.stderr.splitlines()
                self.assertIn("cannot write the record", line)
        made = record.load_input(os.path.join(DATA, "record_x86.json"))
        with tempfile.TemporaryDirectory() as folder:
            os.mkdir(os.path.join(folder, "x.json"))  # a folder where the record should go
            here = os.getcwd()
            os.chdir(folder)
            try:
                self.assertFalse(recorder.save(made, os.path.join(folder, "x.json"), "t"))
            finally:
                os.chdir(here)
            self.assertTrue(os.path.isfile(os.path.join(folder, "saved-x.json")))

    def test_tavro_beside_the_tool(self):
        with tempfile.TemporaryDirectory() as folder:
            # An unpacked archive: bin/tavro, bin/tavro-record -> ../share/tavro/tavro-record.
            os.makedirs(os.path.join(folder, "bin"))
            os.makedirs(os.path.join(folder, "share", "tavro"))
            tavro = os.path.join(folder, "bin", "tavro")
            with open(tavro, "w") as stream:
                stream.write("#!/bin/sh\n")
            os.chmod(tavro, 0o755)
            script = os.path.join(folder, "share", "tavro", "tavro-record")
            with open(script, "w") as stream:
                stream.write("")
            link = os.path.join(folder, "bin", "tavro-record")
            os.symlink("../share/tavro/tavro-record", link)
            self.assertEqual(recorder.find_tavro(None, link), tavro)
            self.assertEqual(recorder.find_tavro(None, script), tavro)
        self.assertEqual(recorder.thread_count(["-d", "1", "-n", "3"]), 3)
        self.assertEqual(recorder.thread_count(["--harness-var", "threads", "--harness-opt",
                                                "1,2-6"]), 6)
        self.assertIsNone(recorder.thread_count(["-n", "0"]))


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def page(self, *args):
        path = os.path.join(self.folder.name, "r.html")
        done = run_tool("tavro-report", *args, "-o", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(path, encoding="utf-8") as stream:
            return stream.read()

    def test_page_of_the_test_records(self):
        text = self.page(*RECORDS)
        # Nothing outside the page: every reference is to a place inside it.
        references = re.findall(r"""(?:src|href)\s*=\s*["']?([^"' >]*)""", text)
        self.assertTrue(references)
        self.assertEqual([r for r in references if not r.startswith("#")], [])
        self.assertNotIn("<link", text)
        self.assertEqual(text.count('class="ranking sortable"'), 2)  # one and two threads
        self.assertEqual(text.count('<section class="machine"'), len(RECORDS))
        self.assertGreaterEqual(text.count("<svg"), 3)  # two bar charts and the sweep
        self.assertIn("Scaling efficiency", text)
        for ident in set(re.findall(r'href="#([^"]+)"', text)):
            self.assertIn(f'id="{ident}"', text)

    def test_a_failing_record_is_marked_ranked_last_and_left_out_with_strict(self):
        rec = record.load_input(os.path.join(DATA, "record_x86.json"))
        run = rec["result"]["sweeps"][0]["runs"][0]  # one thread, 116.48
        run["score"] = rec["result"]["sweeps"][0]["table"][0]["scores"][0] = 516.48
        rec["result"]["sweeps"][0]["table"][0]["average"] = 312.54
        rec["result"]["sweeps"][0]["table"][0]["spread_percent"] = 375.58
        edited = os.path.join(self.folder.name, "edited.json")
        record.write_record(rec, edited)
        others = [r for r in RECORDS if not r.endswith("record_x86.json")]
        text = self.page(edited, *others)
        one_thread = text[text.index('id="category-'):]
        one_thread = one_thread[:one_thread.index("</table>")]
        rows = re.findall(r"<tr>(.*?)</tr>", one_thread)
        self.assertIn("edited.json", rows[-1])
        self.assertIn("\u2717 fails 1 check", rows[-1])
        self.assertIn('data-sort="" class="n">\u2014</td>', rows[-1])  # no rank
        strict = self.page(edited, *others, "--strict")
        rankings = strict[:strict.index("<h2>Records</h2>")]
        self.assertNotIn(">edited.json</td>", rankings)
        self.assertIn("are left out of the rankings", rankings)

    def test_official_builds(self):
        sums = os.path.join(self.folder.name, "SHA256SUMS")
        sha = record.load_input(os.path.join(DATA, "record_x86_turin.json"))["tavro"]["sha256"]
        with open(sums, "w") as stream:
            stream.write(f"{sha}  tavro\n{'0' * 64} *tavro.exe\n")
        text = self.page(*RECORDS, "--official", sums)
        # Its two rows and its line among the records; the others' likewise.
        self.assertEqual(text.count(">official build</span>"), 3)
        self.assertEqual(text.count(">custom build</span>"), 3 * (len(RECORDS) - 1))


if __name__ == "__main__":
    unittest.main()
