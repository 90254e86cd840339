"""What every command shares: its name, its inputs and its one-line errors."""

import sys

from tavro_results.output import InputError, excerpt


def read_text(name):
    """A file's text, or standard input's for "-"; bytes that are not UTF-8
    become replacement characters, so that any file can be refused with a
    message instead of a traceback."""
    if name == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(name, "rb") as stream:
            data = stream.read()
    text = data.decode("utf-8", errors="replace")
    return text[1:] if text.startswith("\ufeff") else text  # a byte-order mark


def run(prog, body):
    """Calls body() and turns every expected failure into one message on
    the error stream and exit code 1."""
    try:
        return body()
    except InputError as error:
        message = str(error)
    except OSError as error:
        name = f": {excerpt(error.filename, 200)}" if error.filename else ""
        message = f"{error.strerror or error}{name}"
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130
    # One line whatever the message quotes.
    print(f"{prog}: {message}".replace("\n", " ").replace("\r", " "), file=sys.stderr)
    return 1
