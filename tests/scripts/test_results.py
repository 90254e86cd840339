"""Tests of the reader of tavro's output, of tavro-record and of
tavro-compare, on outputs and records saved from the real program
(tests/data/results/README.md says how each was made). TAVRO_BINARY names
the built tavro for the one test that runs it."""

import csv
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "results")
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from tavro_results import context, output, record  # noqa: E402


def read(name):
    with open(os.path.join(DATA, name), encoding="utf-8", newline="") as stream:
        return stream.read()


def run_tool(name, *args):
    return subprocess.run([sys.executable, os.path.join(ROOT, "scripts", name), *args],
                          capture_output=True, text=True, timeout=120)


def validator():
    import jsonschema

    with open(os.path.join(ROOT, "docs", "result.schema.json"), encoding="utf-8") as stream:
        schema = json.load(stream)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


class OutputTest(unittest.TestCase):
    def test_runs_and_tables_of_real_outputs(self):
        (size,) = output.parse_output(read("size_invalid.txt"))["sweeps"]
        self.assertEqual((size["variable"], size["sub_runs"]), ("size", 2))
        self.assertEqual(size["planned_values"], ["128", "192", "4096"])
        self.assertEqual(size["table"][0], {"value": "128", "scores": [139.68, 136.47],
                                            "average": 138.08, "spread_percent": 2.35})
        self.assertEqual(size["table"][2]["scores"], [None, None])
        first, last = size["runs"][0], size["runs"][-1]
        self.assertEqual((first["value"], first["sub_run"], last["value"], last["sub_run"]),
                         ("128", 1, "4096", 2))
        self.assertEqual((first["threads"], first["threading"], first["grid"]), (1, "os", 128))
        self.assertEqual((first["duration_s"], first["workload"], first["version"]),
                         (1, "standing_wave", "1.2.0"))
        self.assertEqual(first["per_thread"], [{"thread": 0, "grid_updates": 142606336,
                                                "time_s": 1.02, "mgups": 139.68,
                                                "iterations": 34}])
        self.assertEqual((first["valid"], first["score"], first["isa"]),
                         (True, 139.68, "default_isa"))
        # Saved without the error stream: invalid, for a reason not known.
        self.assertEqual((last["valid"], last["score"], last["invalid_reason"]),
                         (False, None, None))
        self.assertEqual(last["grid"], 4096)

        (threads,) = output.parse_output(read("threads.txt"))["sweeps"]
        self.assertEqual([r["threads"] for r in threads["runs"]], [1, 1, 2, 2])
        self.assertEqual(len(threads["runs"][2]["per_thread"]), 2)

    def test_invalid_runs_keep_their_reason(self):
        # Both streams saved: the reason is what the error stream said.
        refused, allocation = output.parse_output(read("invalid_both_streams.txt"))["sweeps"]
        self.assertEqual(refused["runs"][1]["invalid_reason"],
                         ["cannot run 64 threads: this system runs at most 9; aborting"])
        self.assertEqual(allocation["runs"][1]["invalid_reason"],
                         ["field allocation failed in thread 0", "field allocation failed"])
        self.assertIsNone(allocation["runs"][0]["invalid_reason"])
        # Any line before the box and after it: a failing worker's message
        # glued to the progress line, a reason after the per-thread table.
        text = read("none.txt")
        valid_end = ("===============\n  valid result \n===============\n"
                     "tavro v1.2.0 standing_wave\nAMD EPYC\nfinal score: 144.73 MGups\n")
        reason = ("the workers ran 23 % of the loop time: the process was stopped or the "
                  "machine was busy")
        broken = text.replace("35 iterations\n", "35 iterationsnot enough memory in thread 3\n", 1)
        broken = broken.replace(valid_end, "==================\n  invalid result \n"
                                "==================\n" + reason + "\n", 1)
        broken = broken.replace("|   144.73   137.43", "|      ---   137.43")
        run = output.parse_output(broken)["sweeps"][0]["runs"][0]
        self.assertEqual(run["invalid_reason"], ["not enough memory in thread 3", reason])
        self.assertEqual(run["last_progress"][-13:], "35 iterations")
        # A bypassed timer check warns; the run stays valid.
        warned = text.replace("allocating fields", "===========\n  warning  \n===========\n"
                              "Fast timer is not compliant with HWBOT rules (fast timer "
                              "source: iTSC)\nallocating fields", 1)
        run = output.parse_output(warned)["sweeps"][0]["runs"][0]
        self.assertEqual((run["valid"], len(run["warnings"])), (True, 2))

    def test_several_sweeps_and_windows_line_ends(self):
        text = (read("none.txt") + read("threads.txt")).replace("\n", "\r\n")
        sweeps = output.parse_output(text)["sweeps"]
        self.assertEqual([s["variable"] for s in sweeps], ["none", "threads"])
        self.assertEqual(sweeps[1]["table"][1]["value"], "2")
        # The raw output keeps one progress line per run, its last.
        raw = output.reduce_progress(read("threads.txt"))
        self.assertNotIn("\r", raw)
        self.assertEqual([line for line in raw.splitlines() if "benchmarking" in line][2],
                         "benchmarking... 1/1s            112.5 MGups  14 iterations")

    def test_incomplete_or_foreign_input_is_refused(self):
        size, threads = read("size_invalid.txt"), read("threads.txt")
        table_start = size.index("!!HARNESS!!\n=====")
        first_row_end = size.index("\n", size.index(" 128 ", table_start)) + 1
        cases = {
            "truncated during a run": (read("truncated.txt"), "during run 3/4"),
            "truncated in the table": (size[:first_row_end], "after 1 of its 3 rows"),
            "truncated in a row": (size[: first_row_end + 12], "after 1 of its 3 rows"),
            "plan only": (size[: size.index("\n!!HARNESS!! run 1/")], "before its first run"),
            "empty": ("", "no sweep results table"),
            "not tavro's output": ("hello\nworld\n", "tavro said: 'hello'"),
            "unreadable score": (size.replace("|   139.68", "|   139,68"), "cannot read score"),
            "unreadable final score": (size.replace("139.68", "1e308"), "cannot read its final"),
            "second sweep cut off": (size + size[:2000], "during run 1/6"),
            "table against runs": (size.replace("|   131.39", "|      ---"),
                                   "run 3 does not match its cell"),
            "a run left out": (threads[: threads.index("\n!!HARNESS!! run 4/4")]
                               + threads[threads.index("\n!!HARNESS!!\n====="):],
                               "does not match the 3 runs before it"),
        }
        for name, (text, message) in cases.items():
            with self.subTest(name):
                with self.assertRaises(output.InputError) as raised:
                    output.parse_output(text)
                self.assertIn(message, str(raised.exception))


class RecordTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def test_records_validate_against_the_schema(self):
        check = validator()
        for name in ("record_x86.json", "record_arm64_edited.json"):
            with self.subTest(name):
                check.validate(record.load_input(os.path.join(DATA, name)))
        for name in ("none.txt", "size_invalid.txt", "invalid_both_streams.txt"):
            with self.subTest(name):
                made = record.load_input(os.path.join(DATA, name))
                check.validate(made)
                self.assertIsNone(made["context"])
        # The schema is strict: a valid run must have a score.
        broken = record.load_input(os.path.join(DATA, "record_x86.json"))
        broken["result"]["sweeps"][0]["runs"][0]["score"] = None
        self.assertFalse(check.is_valid(broken))

    def test_from_saved_output(self):
        done = run_tool("tavro-record", "--from", os.path.join(DATA, "size_invalid.txt"),
                        "-o", self.path("r.json"))
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        with open(self.path("r.json"), encoding="utf-8") as stream:
            made = json.load(stream)
        self.assertEqual((made["source"], made["tavro"]["version"]), ("saved output", "1.2.0"))
        validator().validate(made)
        # Without -o the record sits beside the output.
        shutil.copy(os.path.join(DATA, "none.txt"), self.path("run.txt"))
        self.assertEqual(run_tool("tavro-record", "--from", self.path("run.txt")).returncode, 0)
        self.assertTrue(os.path.exists(self.path("run.json")))
        for name in ("truncated.txt", "record_x86.json"):
            with self.subTest(name):
                done = run_tool("tavro-record", "--from", os.path.join(DATA, name),
                                "-o", self.path("t.json"))
                self.assertEqual(done.returncode, 1)
                self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                self.assertTrue(done.stderr.startswith("tavro-record: "))
        self.assertFalse(os.path.exists(self.path("t.json")))

    @unittest.skipUnless(os.environ.get("TAVRO_BINARY"), "TAVRO_BINARY is not set")
    def test_record_of_a_run(self):
        tavro = os.environ["TAVRO_BINARY"]
        done = run_tool("tavro-record", "--tavro", tavro, "-o", self.path("r.json"), "--",
                        "-d", "1", "-n", "1", "-s", "64", "--harness-sub-runs", "2",
                        "--bypass-timer-check")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("press enter to exit", done.stdout)  # shown as it ran
        with open(self.path("r.json"), encoding="utf-8") as stream:
            made = json.load(stream)
        validator().validate(made)
        (sweep,) = made["result"]["sweeps"]
        self.assertEqual([r["valid"] for r in sweep["runs"]], [True, True])
        self.assertEqual(len(sweep["table"][0]["scores"]), 2)
        self.assertEqual(made["command"][1:3], ["-d", "1"])
        self.assertEqual(made["tavro"]["sha256"], record.file_sha256(tavro))
        self.assertEqual(made["context"]["processor"]["threads"], os.cpu_count())
        has_cpufreq = os.path.exists("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq")
        self.assertEqual(made["frequency"] is not None, has_cpufreq)
        # tavro's own exit code, and no record, when tavro refuses its options.
        done = run_tool("tavro-record", "--tavro", tavro, "-o", self.path("bad.json"), "--",
                        "-s", "65")
        self.assertEqual(done.returncode, 1)
        self.assertFalse(os.path.exists(self.path("bad.json")))

    def test_context_readers_and_warnings(self):
        sysfs = os.path.join(ROOT, "tests", "data", "sysfs")
        smt4 = context.processor(os.path.join(sysfs, "smt4"), self.folder.name, None)
        self.assertEqual((smt4["cores"], smt4["threads"], smt4["numa_nodes"]), (4, 8, 1))
        nodes = context.processor(os.path.join(sysfs, "two_nodes"), self.folder.name, None)
        self.assertEqual(nodes["numa_nodes"], 2)
        (l3,) = context.caches(os.path.join(sysfs, "two_nodes"))
        self.assertEqual((l3["level"], l3["shared_by_cpus"], l3["instances"]), (3, 4, 2))
        self.assertEqual(context.cpu_list_count("0-3,8,10-11"), 7)
        self.assertIsNone(smt4["firmware_name"])

        # The firmware's processor name: string N of an SMBIOS type 4
        # structure, placeholders and broken structures giving none.
        def smbios(number, strings, kind=4):
            return bytes([kind, 0x30]) + bytes(14) + bytes([number]) + bytes(0x1F) + strings

        names = b"CPU 0\0  Ampere(R) Altra(R) Processor  \0virt-7.2\0\0"
        self.assertEqual(context.smbios_processor_version(smbios(2, names)),
                         "Ampere(R) Altra(R) Processor")
        self.assertEqual(context.smbios_processor_version(smbios(3, names)), "virt-7.2")
        for broken in (smbios(0, names), smbios(5, names), smbios(2, names, kind=3),
                       smbios(2, b"CPU 0\0Ampere"), smbios(1, names)[:0x10], b""):
            self.assertIsNone(context.smbios_processor_version(broken), broken)
        folder = self.path("firmware/dmi/entries/4-0")
        os.makedirs(folder)
        for number, expected in ((2, "Ampere(R) Altra(R) Processor"), (1, None), (3, None)):
            with open(os.path.join(folder, "raw"), "wb") as stream:
                stream.write(smbios(number, names))
            self.assertEqual(context.firmware_processor_name(self.folder.name), expected)
        for placeholder in ("To Be Filled By O.E.M.", "Not Specified", "", "pc-q35-8.2", "CPU1"):
            with open(os.path.join(folder, "raw"), "wb") as stream:
                stream.write(smbios(1, placeholder.encode() + b"\0\0"))
            self.assertIsNone(context.firmware_processor_name(self.folder.name), placeholder)

        machine = context.read_context()
        self.assertEqual(context.warnings(machine), context.warnings(machine))  # reads nothing
        machine["cpufreq"]["governors"] = ["performance", "powersave"]
        machine["load_average"] = [0.5 * machine["processor"]["threads"] + 0.01, 0, 0]
        machine["memory"]["swap_used_bytes"] = 3 << 20
        # A 25 % quota is below even one thread; a paravirtual clock.
        machine["control_groups"]["cpu"] = [{"version": 2, "path": "/", "quota_us": 25000,
                                             "period_us": 100000}]
        machine["clock_source"] = "hyperv_clocksource_tsc_page"
        said = context.warnings(machine, threads=1)
        self.assertEqual(len(said), 5, said)
        self.assertIn("powersave", said[0])
        self.assertIn("quota of 0.25 CPUs for 1 thread", said[3])
        self.assertIn("hyperv_clocksource_tsc_page", said[4])
        machine["cpufreq"]["governors"] = ["performance"]
        machine["load_average"][0] -= 0.02
        machine["memory"]["swap_used_bytes"] = 0
        machine["control_groups"]["cpu"][0]["quota_us"] = 200000
        machine["clock_source"] = "tsc"
        self.assertEqual(context.warnings(machine, threads=2), [])
        self.assertEqual(len(context.warnings(machine, threads=3)), 1)

        # Frequencies from a cpufreq tree of two CPUs.
        for cpu, khz in ((0, "2400000"), (1, "3000000")):
            folder = self.path(f"devices/system/cpu/cpu{cpu}/cpufreq")
            os.makedirs(folder)
            with open(os.path.join(folder, "scaling_cur_freq"), "w") as stream:
                stream.write(khz + "\n")
        sampler = context.FrequencySampler(self.folder.name, interval_s=0.01)
        sampler.start()
        while len(sampler.samples) < 3:
            sampler.done.wait(0.01)
        summary = sampler.stop()
        self.assertEqual([c["median_mhz"] for c in summary["per_cpu"]], [2400, 3000])
        self.assertEqual(summary["over_time"][0]["max_mhz"], 3000)
        made = record.load_input(os.path.join(DATA, "record_x86.json"))
        made["frequency"] = summary
        validator().validate(made)


class CompareTest(unittest.TestCase):
    def test_markdown_rows_and_ratio(self):
        done = run_tool("tavro-compare", os.path.join(DATA, "record_x86.json"),
                        os.path.join(DATA, "record_arm64_edited.json"), "--markdown")
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "| input | sweep | threads | grid | workload | duration | "
                         "valid | average | median | stddev | max/min | ratio |")
        rows = [[cell.strip() for cell in line.strip("|").split(" | ")] for line in lines[2:]]
        # The thread counts line up: the first input, then the second, per value.
        self.assertEqual([(r[0][:5], r[1]) for r in rows],
                         [("Intel", "threads 1"), ("64-bi", "threads 1"),
                          ("Intel", "threads 2"), ("64-bi", "threads 2")])
        self.assertEqual([r[11] for r in rows[::2]], ["1.00", "1.00"])
        self.assertEqual(rows[1][11], f"{float(rows[1][7]) / float(rows[0][7]):.2f}")
        self.assertEqual(rows[0][5:10], ["1 s", "2/2", "112.54", "112.54", "5.57"])
        self.assertEqual(done.stderr, "")  # like runs: no warning
        # Another workload and grid: the ratio stands, with a warning.
        other = record.load_input(os.path.join(DATA, "record_x86.json"))
        for run in other["result"]["sweeps"][0]["runs"]:
            run["workload"], run["grid"] = "soft_gaussian", 64
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sg.json")
            record.write_record(other, path)
            done = run_tool("tavro-compare", os.path.join(DATA, "record_x86.json"), path)
        self.assertEqual(done.returncode, 0, done.stderr)
        (warning,) = done.stderr.splitlines()
        self.assertIn("differ in workload, grid (threads 1, threads 2)", warning)

    def test_csv_and_text_of_mixed_inputs(self):
        done = run_tool("tavro-compare", os.path.join(DATA, "record_arm64_edited.json"),
                        os.path.join(DATA, "invalid_both_streams.txt"), "--csv", "-")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        self.assertEqual(rows[0]["context.processor.cores"], "8")
        self.assertEqual(rows[0]["tavro.version"], "1.2.0")
        invalid = [r for r in rows if r["value"] == "64"]
        self.assertEqual((invalid[0]["valid_runs"], invalid[0]["average"],
                          invalid[0]["context.processor.cores"]), ("0", "", ""))
        # Labels: given, else the processor the runs printed; the sizes
        # sweep has no point in the first input, so no ratio.
        done = run_tool("tavro-compare", os.path.join(DATA, "record_arm64_edited.json"),
                        os.path.join(DATA, "invalid_both_streams.txt"), "--label", "arm")
        lines = done.stdout.splitlines()
        self.assertTrue(lines[2].startswith("arm "), lines)
        self.assertTrue(lines[-1].startswith("Intel(R) Xeon(R) Processor  size 4096"), lines)
        self.assertTrue(lines[-1].endswith("---"), lines)
        done = run_tool("tavro-compare", os.path.join(DATA, "truncated.txt"))
        self.assertEqual(done.returncode, 1)
        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)


if __name__ == "__main__":
    unittest.main()
