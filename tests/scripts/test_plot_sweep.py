"""Tests of scripts/plot_sweep on outputs saved from the real program
(tests/data/plot_sweep/, each made with `build/tavro ... </dev/null > FILE`):

  none.txt          -d 1 -s 128 -n 1 --harness-sub-runs 3
  size_invalid.txt  -d 1 -n 1 --harness-var size --harness-opt 128,192,4096 --harness-sub-runs 2
                    (4096 cannot be allocated: both of its sub-runs are invalid)
  threads.txt       -d 1 -s 128 --harness-var threads --harness-opt 1,2 --harness-sub-runs 2
  truncated.txt     the first 5400 bytes of threads.txt: cut off during run 3/4
"""

import csv
import importlib.machinery
import importlib.util
import io
import os
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "plot_sweep")
DATA = os.path.join(ROOT, "tests", "data", "plot_sweep")


def load_script():
    loader = importlib.machinery.SourceFileLoader("plot_sweep", SCRIPT)
    module_spec = importlib.util.spec_from_loader("plot_sweep", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


plot_sweep = load_script()


def read(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as stream:
        return stream.read()


def run_script(*args, stdin=None):
    return subprocess.run(
        [sys.executable, SCRIPT, *args],
        input=stdin,
        capture_output=True,
        timeout=120,
    )


class ParseTest(unittest.TestCase):
    def test_sweeps_read_from_real_outputs(self):
        (size,) = plot_sweep.parse_output(read("size_invalid.txt"))
        self.assertEqual(size.variable, "size")
        self.assertEqual(size.sub_runs, 2)
        self.assertEqual([r[0] for r in size.rows], ["128", "192", "4096"])
        self.assertEqual(size.rows[0][1], [139.68, 136.47])
        self.assertEqual(size.rows[0][2:], (138.08, 2.35))
        # The invalid point: no score, no average, no spread.
        self.assertEqual(size.rows[2][1:], ([None, None], None, None))
        self.assertEqual(size.workload(), "standing_wave")
        self.assertNotIn("unknown", size.processor())
        # The grid size is what changes; the thread count and duration do not.
        self.assertEqual(size.settings(), "1 thread (os), 1 s, 2 sub-runs")

        (none,) = plot_sweep.parse_output(read("none.txt"))
        self.assertEqual((none.variable, none.sub_runs), ("none", 3))
        self.assertEqual(none.rows, [("none", [144.73, 137.43, 134.20], 138.79, 7.85)])
        self.assertEqual(none.settings(), "1 thread (os), 128\u00b3 grid, 1 s, 3 sub-runs")

        (threads,) = plot_sweep.parse_output(read("threads.txt"))
        self.assertEqual(threads.settings(), "128\u00b3 grid, 1 s, 2 sub-runs")

    def test_several_sweeps_and_windows_line_ends(self):
        text = (read("none.txt") + read("threads.txt")).replace("\n", "\r\n")
        sweeps = plot_sweep.parse_output(text)
        self.assertEqual([s.variable for s in sweeps], ["none", "threads"])
        self.assertEqual(sweeps[1].rows[1][0], "2")
        self.assertEqual(sweeps[0].processor(), sweeps[1].processor())

    def test_incomplete_or_foreign_input_is_refused(self):
        size = read("size_invalid.txt")
        table_start = size.index("!!HARNESS!!\n=====")
        first_row_end = size.index("\n", size.index(" 128 ", table_start)) + 1
        cases = {
            "truncated during a run": (read("truncated.txt"), "during run 3/4"),
            "truncated in the table": (size[:first_row_end], "after 1 of its 3 rows"),
            "truncated in a row": (size[: first_row_end + 12], "after 1 of its 3 rows"),
            "plan only": (size[: size.index("\n!!HARNESS!! run 1/")], "before its first run"),
            "empty": ("", "no sweep results table"),
            "not tavro's output": ("hello\nworld\n", "no sweep results table"),
            "unreadable score": (size.replace("139.68", "139,68"), "cannot read score"),
            "second sweep cut off": (size + size[:2000], "during run 1/6"),
        }
        for name, (text, message) in cases.items():
            with self.subTest(name):
                with self.assertRaises(plot_sweep.InputError) as raised:
                    plot_sweep.parse_output(text)
                self.assertIn(message, str(raised.exception))


class CommandTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def test_chart_and_csv(self):
        done = run_script(
            os.path.join(DATA, "size_invalid.txt"),
            "-o", self.path("sweep.png"),
            "--csv", self.path("sweep.csv"),
        )
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.path("sweep.png"), "rb") as stream:
            self.assertEqual(stream.read(8), b"\x89PNG\r\n\x1a\n")
        with open(self.path("sweep.csv"), newline="") as stream:
            rows = list(csv.reader(stream))
        self.assertEqual(
            rows,
            [
                ["sweep", "variable", "value", "run 1", "run 2", "average", "max/min %"],
                ["1", "size", "128", "139.68", "136.47", "138.08", "2.35"],
                ["1", "size", "192", "131.39", "133.07", "132.23", "1.27"],
                ["1", "size", "4096", "", "", "", ""],
            ],
        )
        # Standard input in, SVG and CSV on standard output.
        done = run_script("-o", self.path("none.svg"), "--csv", "-",
                          stdin=read("none.txt").encode())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.decode().splitlines()[1],
                         "1,none,none,144.73,137.43,134.20,138.79,7.85")
        with open(self.path("none.svg"), encoding="utf-8") as stream:
            self.assertIn("<svg", stream.read())

    def test_axes_and_titles(self):
        sweeps = plot_sweep.parse_output(
            read("size_invalid.txt") + read("threads.txt") + read("none.txt")
        )
        figure = plot_sweep.make_figure(sweeps)
        size, threads, none = figure.axes
        self.assertEqual((size.get_xscale(), threads.get_xscale()), ("log", "log"))
        self.assertEqual(none.get_xscale(), "linear")
        self.assertEqual([t.get_text() for t in size.get_xticklabels()], ["128", "192", "4096"])
        self.assertIn("size sweep \u2013 standing_wave, 1 thread (os)", size.get_title())
        self.assertTrue(size.get_title().startswith(sweeps[0].processor() + "\n"))
        # Every valid sub-run is a point; the invalid ones are marked apart.
        points = {line.get_label(): len(line.get_xdata()) for line in size.get_lines()}
        self.assertEqual(points, {"average": 3, "sub-run": 4, "invalid sub-run": 2})

    def test_failures_give_one_message_and_exit_1(self):
        with open(self.path("garbage.bin"), "wb") as stream:
            stream.write(bytes(range(256)) * 8)
        cases = {
            "truncated": [os.path.join(DATA, "truncated.txt"), "-o", self.path("t.png")],
            "binary input": [self.path("garbage.bin"), "--csv", self.path("g.csv")],
            "no such file": [self.path("absent.txt"), "-o", self.path("a.png")],
            "unwritable chart": [os.path.join(DATA, "none.txt"), "-o",
                                 self.path("no/such/folder/c.png")],
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
        self.assertEqual(run_script(os.path.join(DATA, "none.txt")).returncode, 2)
        self.assertEqual(run_script(os.path.join(DATA, "none.txt"), "-o", "x.pdf").returncode, 2)

    def test_missing_matplotlib_names_the_package(self):
        stderr = io.StringIO()
        with mock.patch.dict(sys.modules, {"matplotlib": None}), \
                mock.patch.object(sys, "stderr", stderr):
            status = plot_sweep.main([os.path.join(DATA, "none.txt"), "-o", self.path("m.png")])
        self.assertEqual(status, 1)
        self.assertIn("python3-matplotlib", stderr.getvalue())
        # The CSV needs no matplotlib.
        with mock.patch.dict(sys.modules, {"matplotlib": None}):
            status = plot_sweep.main([os.path.join(DATA, "none.txt"), "--csv", self.path("m.csv")])
        self.assertEqual(status, 0)


if __name__ == "__main__":
    unittest.main()
