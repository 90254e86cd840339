"""Tests of scripts/plot_sweep (installed as tavro-plot) on outputs and
records saved from the real program (tests/data/results/README.md)."""

import csv
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "plot_sweep")
DATA = os.path.join(ROOT, "tests", "data", "results")
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from tavro_results import chart, record  # noqa: E402


def data(name):
    return os.path.join(DATA, name)


def run_script(*args, stdin=None, script=SCRIPT):
    return subprocess.run([sys.executable, script, *args], input=stdin, capture_output=True,
                          timeout=120)


def figure_of(*names):
    records = record.load_inputs([data(n) for n in names])
    return chart.make_figure(records, record.labels(records, names))


class ChartTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def test_chart_and_csv(self):
        done = run_script(data("size_invalid.txt"), "-o", self.path("sweep.png"),
                          "--csv", self.path("sweep.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.path("sweep.png"), "rb") as stream:
            self.assertEqual(stream.read(8), b"\x89PNG\r\n\x1a\n")
        with open(self.path("sweep.csv"), newline="") as stream:
            rows = list(csv.reader(stream))
        context = ["AMD EPYC", "AMD EPYC", "standing_wave", "1"]
        self.assertEqual(
            rows,
            [
                ["input", "processor", "workload", "threads", "size", "duration", "version",
                 "sweep", "variable", "value", "run 1", "run 2", "average", "max/min %"],
                context + ["128", "1", "1.2.0", "1", "size", "128", "139.68", "136.47",
                           "138.08", "2.35"],
                context + ["192", "1", "1.2.0", "1", "size", "192", "131.39", "133.07",
                           "132.23", "1.27"],
                context + ["4096", "1", "1.2.0", "1", "size", "4096", "", "", "", ""],
            ],
        )
        # Standard input in, SVG and CSV on standard output.
        with open(data("none.txt"), "rb") as stream:
            done = run_script("-o", self.path("none.svg"), "--csv", "-", stdin=stream.read())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.decode().splitlines()[1],
                         "AMD EPYC,AMD EPYC,standing_wave,1,128,1,1.2.0,1,none,none,"
                         "144.73,137.43,134.20,138.79,7.85")
        with open(self.path("none.svg"), encoding="utf-8") as stream:
            self.assertIn("<svg", stream.read())

    def test_axes_and_titles(self):
        records = [record.load_input(data(n)) for n in ("size_invalid.txt", "threads.txt",
                                                        "none.txt")]
        # One input with several sweeps: one chart per sweep, as before.
        joined = {"result": {"sweeps": [s for r in records for s in r["result"]["sweeps"]]}}
        size, threads, none = chart.make_figure([joined], ["AMD EPYC"]).axes
        self.assertEqual((size.get_xscale(), threads.get_xscale()), ("log", "log"))
        self.assertEqual(none.get_xscale(), "linear")
        self.assertEqual([t.get_text() for t in size.get_xticklabels()], ["128", "192", "4096"])
        self.assertEqual(size.get_title(), "AMD EPYC\nsize sweep \u2013 standing_wave, "
                         "1 thread (os), 1 s, 2 sub-runs")
        self.assertIn("128\u00b3 grid, 1 s, 2 sub-runs", threads.get_title())
        # Every valid sub-run is a point; the invalid ones are marked apart.
        points = {line.get_label(): len(line.get_xdata()) for line in size.get_lines()}
        self.assertEqual(points, {"average": 3, "sub-run": 4, "invalid sub-run": 2})

    def test_several_inputs_share_a_chart(self):
        (threads,) = figure_of("record_x86.json", "threads.txt", "record_arm64_edited.json").axes
        labels = [line.get_label() for line in threads.get_lines()
                  if not line.get_label().startswith("_")]
        # One series per input, labelled as tavro-compare labels it; the
        # records' core counts are marked, the saved output knows none.
        self.assertEqual(labels, [
            "Intel(R) Xeon(R) Processor", "AMD EPYC",
            "64-bit Arm test machine (context edited by hand)",
            "2 cores (Intel(R) Xeon(R) Processor)",
            "8 cores (64-bit Arm test machine (context edited by hand))"])
        self.assertEqual([t.get_text() for t in threads.get_xticklabels()], ["1", "2", "8"])
        self.assertEqual(threads.get_title(),
                         "threads sweep \u2013 standing_wave, 128\u00b3 grid, 1 s, 2 sub-runs")
        (same,) = figure_of("record_x86.json", "record_x86.json").axes
        self.assertEqual(same.get_lines()[-1].get_label(), "2 cores")  # one line for both
        # Variables apart: a chart each.
        self.assertEqual(len(figure_of("record_x86.json", "size_invalid.txt").axes), 2)
        done = run_script(data("record_x86.json"), data("threads.txt"), "-o", self.path("c.png"))
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_failures_give_one_message_and_exit_1(self):
        with open(self.path("garbage.bin"), "wb") as stream:
            stream.write(bytes(range(256)) * 8)
        cases = {
            "truncated": [data("truncated.txt"), "-o", self.path("t.png")],
            "one of two truncated": [data("none.txt"), data("truncated.txt"), "-o",
                                     self.path("t.png")],
            "binary input": [self.path("garbage.bin"), "--csv", self.path("g.csv")],
            "no such file": [self.path("absent.txt"), "-o", self.path("a.png")],
            "unwritable chart": [data("none.txt"), "-o", self.path("no/such/folder/c.png")],
        }
        for name, args in cases.items():
            with self.subTest(name):
                done = run_script(*args)
                self.assertEqual(done.returncode, 1)
                lines = done.stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("plot_sweep: "), lines[0])
        self.assertFalse(os.path.exists(self.path("t.png")))
        # Usage errors are argparse's: exit 2 and a usage line.
        self.assertEqual(run_script(data("none.txt")).returncode, 2)
        self.assertEqual(run_script(data("none.txt"), "-o", "x.pdf").returncode, 2)

    def test_installed_under_another_name(self):
        # A link in bin/ to the command beside its package, and a copy in
        # bin/ with the package in share/tavro/.
        os.makedirs(self.path("bin"))
        os.makedirs(self.path("share/tavro"))
        shutil.copytree(os.path.join(ROOT, "scripts", "tavro_results"),
                        self.path("share/tavro/tavro_results"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        shutil.copy(SCRIPT, self.path("bin/tavro-plot"))
        os.symlink(SCRIPT, self.path("bin/linked-plot"))
        for name in ("tavro-plot", "linked-plot"):
            with self.subTest(name):
                done = run_script(data("none.txt"), "--csv", "-", script=self.path("bin/" + name))
                self.assertEqual(done.returncode, 0, done.stderr)
                done = run_script(data("truncated.txt"), "--csv", "-",
                                  script=self.path("bin/" + name))
                self.assertTrue(done.stderr.decode().startswith(name + ": "), done.stderr)

    def test_missing_matplotlib_names_the_package(self):
        stderr = io.StringIO()
        with mock.patch.dict(sys.modules, {"matplotlib": None}), \
                mock.patch.object(sys, "stderr", stderr):
            status = chart.main([data("none.txt"), "-o", self.path("m.png")])
        self.assertEqual(status, 1)
        self.assertIn("python3-matplotlib", stderr.getvalue())
        # The CSV needs no matplotlib.
        with mock.patch.dict(sys.modules, {"matplotlib": None}):
            status = chart.main([data("none.txt"), "--csv", self.path("m.csv")])
        self.assertEqual(status, 0)


if __name__ == "__main__":
    unittest.main()
