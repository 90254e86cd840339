"""tavro-record: runs tavro and writes one JSON record of the run.

    tavro-record -o result.json -- -d 10 -n 1          # options after -- go to tavro
    tavro-record --from saved.txt -o result.json       # a saved output, context null

Before the run it reads the machine's context and warns on the error
stream of what makes a score unrepresentative (a governor other than
performance, a busy machine, swap in use, a CPU quota below the thread
count, a virtual machine's clock source); it changes no setting. It checks
that it can write the record before tavro starts; should the write still
fail after the run, the record is saved in the current (else the
temporary) folder and the message says where. A saved output that
contradicts itself (a score that is not the sum of its threads, a table
that disagrees with its runs) is refused with the check it fails. During
the run it shows tavro's output and samples every CPU's frequency once a
second where cpufreq exists. Exit code: tavro's own where tavro ran; 1 with
one message when no record could be made.
"""

import argparse
import os
import shutil
import socket
import re
import subprocess
import sys
import tempfile

from tavro_results import checks, context, output, record
from tavro_results.cli import read_text, run
from tavro_results.output import InputError, excerpt

PROG = "tavro-record"


def parse_arguments(argv, prog):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Runs tavro with the options after -- and writes one JSON record of the "
        "run: its result, the machine's context and the frequencies during the run.",
    )
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="the record to write (default: tavro-HOST-DATE.json; with --from "
                        "the saved output's name with .json)")
    parser.add_argument("--tavro", metavar="PATH",
                        help="the tavro to run (default: the one beside this tool, as in "
                        "an unpacked archive's bin/, else build/tavro, else tavro on PATH)")
    parser.add_argument("--from", dest="saved", metavar="FILE",
                        help="make the record from a saved output instead of a run "
                        "('-': standard input); its context is null")
    parser.add_argument("tavro_options", nargs="*", metavar="-- OPTIONS",
                        help="tavro's options")
    args = parser.parse_args(argv)
    args.prog = prog
    if args.saved and (args.tavro or args.tavro_options):
        parser.error("--from takes no tavro and no tavro options: nothing is run")
    return args


def is_program(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def find_tavro(given, started_as=None):
    """The tavro to run: the one given; else the one beside this tool, in
    the bin/ folder it was started from or the one of its installed tree
    (share/tavro/../../bin), as an unpacked archive holds them; else
    build/tavro; else tavro on PATH."""
    if given:
        if not is_program(given):
            raise InputError(f"cannot run {excerpt(given, 200)}: not an executable file")
        return given
    started_as = started_as or sys.argv[0]
    real = os.path.dirname(os.path.realpath(started_as))
    beside = [os.path.join(os.path.dirname(os.path.abspath(started_as)), "tavro")]
    if os.path.basename(real) == "tavro" and os.path.basename(os.path.dirname(real)) == "share":
        beside.append(os.path.join(real, "..", "..", "bin", "tavro"))
    for path in beside + ["build/tavro"]:
        if is_program(path):
            return os.path.normpath(path)
    found = shutil.which("tavro")
    if not found:
        raise InputError("no tavro to run: build it (build/tavro), put it on PATH "
                         "or give --tavro PATH")
    return found


def check_output(path):
    """Refuses, before anything runs, a record that could not be written."""
    folder = os.path.dirname(path) or "."
    if os.path.isdir(path):
        raise InputError(f"cannot write the record {excerpt(path, 200)}: it is a folder")
    if not os.path.isdir(folder):
        raise InputError(f"cannot write the record {excerpt(path, 200)}: there is no folder "
                         f"{excerpt(folder, 200)}")
    if not os.access(folder, os.W_OK | os.X_OK) or (
            os.path.exists(path) and not os.access(path, os.W_OK)):
        raise InputError(f"cannot write the record {excerpt(path, 200)}: permission denied")


def save(made, path, prog):
    """Writes the record; when that fails after a run, saves it under its
    own name in the current folder, else the temporary one, and says where.
    Returns whether the record went where it was asked to."""
    try:
        record.write_record(made, path)
        return True
    except OSError as error:
        why = error.strerror or str(error)
    name = os.path.basename(path) or "tavro-record.json"
    for folder in (os.getcwd(), tempfile.gettempdir()):
        fallback = os.path.join(folder, name)
        if os.path.abspath(fallback) == os.path.abspath(path):
            fallback = os.path.join(folder, "saved-" + name)
        try:
            record.write_record(made, fallback)
        except OSError:
            continue
        print(f"{prog}: cannot write {excerpt(path, 200)} ({why}); the record is saved as "
              f"{fallback}", file=sys.stderr)
        return False
    raise InputError(f"cannot write {excerpt(path, 200)} ({why}), nor a copy in the current "
                     "or the temporary folder: the record is lost")


def thread_count(options):
    """The most threads a run of these tavro options asks for; None for one
    per CPU (the default, 0)."""
    found, sweep_values = None, None
    for k, option in enumerate(options):
        value = options[k + 1] if k + 1 < len(options) else ""
        if option.startswith("--numthreads="):
            option, value = "--numthreads", option.split("=", 1)[1]
        if option in ("-n", "--numthreads") and output.PLANNED_NUMBER_RE.match(value):
            found = int(value) or None
        if option == "--harness-opt":
            sweep_values = value
    if "threads" in options and sweep_values:
        numbers = [int(v) for v in re.split(r"[,-]", sweep_values)
                   if output.PLANNED_NUMBER_RE.match(v)]
        found = max(numbers) if numbers and 0 not in numbers else None
    return found


def run_tavro(command):
    """Runs tavro with standard input from /dev/null (so that its final
    prompt returns) and both streams into one pipe, in the order written;
    shows the output as it comes. Returns (exit code, output)."""
    chunks = []
    echo = sys.stdout.buffer
    with subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT) as process:
        while True:
            data = os.read(process.stdout.fileno(), 1 << 16)
            if not data:
                break
            chunks.append(data)
            if echo is not None:
                try:
                    echo.write(data)
                    echo.flush()
                except OSError:
                    # A closed standard output ends the showing, not the run;
                    # what is still buffered for it goes nowhere at exit.
                    echo = None
                    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        code = process.wait()
    # A signal's end reads as the shell shows it: 128 + the signal's number.
    return (code if code >= 0 else 128 - code), b"".join(chunks).decode("utf-8", "replace")


def default_name(date):
    host = socket.gethostname().split(".")[0] or "host"
    return f"tavro-{host}-{date:%Y%m%d-%H%M%S}.json"


def record_run(args):
    date = record.now_utc()
    path = args.output or default_name(date)
    check_output(path)
    tavro = find_tavro(args.tavro)
    machine = context.read_context()
    warnings = context.warnings(machine, thread_count(args.tavro_options))
    for warning in warnings:
        print(f"{args.prog}: warning: {warning}", file=sys.stderr)
    sys.stderr.flush()
    sampler = context.FrequencySampler()
    command = [tavro, *args.tavro_options]
    sampler.start()
    try:
        code, text = run_tavro(command)
    finally:
        frequency = sampler.stop()
    try:
        made = record.make_record(text, "run", command=command, tavro_path=tavro,
                                  exit_code=code, date=date, context=machine,
                                  warnings=warnings, frequency=frequency)
    except InputError as error:
        # tavro said why it failed; an output cut short of its results, or
        # one without any, is no result either.
        why = f"tavro exited with {code}" if code else f"tavro's output is not complete: {error}"
        print(f"{args.prog}: no record written: {why}", file=sys.stderr)
        return code or 1
    if not save(made, path, args.prog):
        return code or 1
    print(f"{args.prog}: wrote {path}", file=sys.stderr)
    return code


def record_saved(args):
    # By default the record sits beside the output: run.txt gives run.json
    # (and never overwrites its input).
    base, ext = os.path.splitext(args.saved)
    name = None if args.saved == "-" else base + (".record.json" if ext == ".json" else ".json")
    path = args.output or name or default_name(record.now_utc())
    check_output(path)
    source = "standard input" if args.saved == "-" else excerpt(args.saved, 200)
    try:
        made = record.make_record(read_text(args.saved), "saved output")
    except InputError as error:
        raise InputError(f"{source}: {error}") from None
    # An output that contradicts itself is no record of a run.
    failed = checks.failures(checks.check_record(made))
    if failed:
        raise InputError(f"{source}: {failed[0].message} (check: "
                         f"{checks.CHECKS[failed[0].check]})")
    record.write_record(made, path)
    return 0


def main(argv=None, prog=PROG):
    """The command; prog is the name it was started under."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv, prog)
    return run(prog, lambda: record_saved(args) if args.saved else record_run(args))
