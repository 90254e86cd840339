"""tavro-record: runs tavro and writes one JSON record of the run.

    tavro-record -o result.json -- -d 10 -n 1          # options after -- go to tavro
    tavro-record --from saved.txt -o result.json       # a saved output, context null

Before the run it reads the machine's context and warns on the error
stream of what makes a score unrepresentative (a governor other than
performance, a busy machine, swap in use); it changes no setting. During
the run it shows tavro's output and samples every CPU's frequency once a
second where cpufreq exists. Exit code: tavro's own where tavro ran; 1 with
one message when no record could be made.
"""

import argparse
import os
import shutil
import socket
import subprocess
import sys

from tavro_results import context, record
from tavro_results.cli import read_text, run
from tavro_results.output import InputError

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
                        help="the tavro to run (default: build/tavro, else tavro on PATH)")
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


def find_tavro(given):
    if given:
        if not (os.path.isfile(given) and os.access(given, os.X_OK)):
            raise InputError(f"cannot run {given}: not an executable file")
        return given
    if os.path.isfile("build/tavro") and os.access("build/tavro", os.X_OK):
        return "build/tavro"
    found = shutil.which("tavro")
    if not found:
        raise InputError("no tavro to run: build it (build/tavro), put it on PATH "
                         "or give --tavro PATH")
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
    tavro = find_tavro(args.tavro)
    machine = context.read_context()
    warnings = context.warnings(machine)
    for warning in warnings:
        print(f"{args.prog}: warning: {warning}", file=sys.stderr)
    sys.stderr.flush()
    sampler = context.FrequencySampler()
    date = record.now_utc()
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
    path = args.output or default_name(date)
    record.write_record(made, path)
    print(f"{args.prog}: wrote {path}", file=sys.stderr)
    return code


def record_saved(args):
    try:
        made = record.make_record(read_text(args.saved), "saved output")
    except InputError as error:
        source = "standard input" if args.saved == "-" else args.saved
        raise InputError(f"{source}: {error}") from None
    # By default the record sits beside the output: run.txt gives run.json
    # (and never overwrites its input).
    base, ext = os.path.splitext(args.saved)
    name = None if args.saved == "-" else base + (".record.json" if ext == ".json" else ".json")
    record.write_record(made, args.output or name or default_name(record.now_utc()))
    return 0


def main(argv=None, prog=PROG):
    """The command; prog is the name it was started under."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv, prog)
    return run(prog, lambda: record_saved(args) if args.saved else record_run(args))
