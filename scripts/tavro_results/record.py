"""Result records: what tavro-record writes, and what the other tools read.

A record is one JSON object (docs/result.schema.json): the command line,
tavro's version and binary, the machine's context, the frequencies during
the run, the parsed result and the raw output. A saved output is read as a
record whose context is null, so that every tool takes either.
"""

import datetime
import hashlib
import json
import os

from tavro_results import output
from tavro_results.cli import read_text
from tavro_results.output import InputError, excerpt

SCHEMA_VERSION = 1


def make_record(text, source, command=None, tavro_path=None, exit_code=None, date=None,
                context=None, warnings=None, frequency=None):
    """The record of an output; raises InputError when it is incomplete."""
    result = output.parse_output(text)
    versions = [r["version"] for s in result["sweeps"] for r in s["runs"] if r["version"]]
    return {
        "schema_version": SCHEMA_VERSION,
        "source": source,
        "date_utc": date.strftime("%Y-%m-%dT%H:%M:%SZ") if date else None,
        "command": command,
        "exit_code": exit_code,
        "tavro": {
            "path": os.path.realpath(tavro_path) if tavro_path else None,
            "version": versions[0] if versions else None,
            "sha256": file_sha256(tavro_path) if tavro_path else None,
        },
        "warnings": warnings,
        "context": context,
        "frequency": frequency,
        "result": result,
        "raw_output": output.reduce_progress(text),
    }


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write_record(record, path):
    # allow_nan=False: a record is strict JSON, which has no NaN or Infinity.
    text = json.dumps(record, indent=1, ensure_ascii=False, allow_nan=False)
    with open(path, "w", encoding="utf-8") as stream:
        stream.write(text + "\n")


def load_input(name):
    """A record, or a saved output read as one; name "-" is standard input."""
    text = read_text(name)
    if not text.lstrip().startswith("{"):
        return make_record(text, "saved output")
    try:
        # JSON has no NaN or Infinity, which Python's reader would accept.
        record = json.loads(text, parse_constant=refuse_constant)
    except (ValueError, RecursionError) as error:
        raise InputError(f"not a valid JSON record: {excerpt(error, 100)}") from None
    if not isinstance(record, dict) or not isinstance(record.get("result"), dict):
        raise InputError("a JSON file without a tavro result (is it a record of tavro-record?)")
    if record.get("schema_version") != SCHEMA_VERSION:
        raise InputError(f"a record of schema version {excerpt(record.get('schema_version'))}; "
                         f"this tool reads version {SCHEMA_VERSION}")
    validate(record)
    integral(record)
    return record


# Counts that JSON Schema lets a record write as 2.0: the tools take them as
# the integers they are.
INTEGER_KEYS = {"number", "sub_run", "sub_runs", "threads", "grid", "duration_s",
                "initialization_ms", "thread", "grid_updates", "iterations", "cores", "sockets",
                "numa_nodes", "allowed_cpus", "exit_code", "cpu", "samples"}


def integral(value):
    if isinstance(value, dict):
        for key, item in value.items():
            if key in INTEGER_KEYS and isinstance(item, float):
                value[key] = int(item)
            else:
                integral(item)
    elif isinstance(value, list):
        for item in value:
            integral(item)


def refuse_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def schema_path():
    """The record's schema: beside this module once installed, in docs/ of
    the source tree."""
    here = os.path.dirname(os.path.abspath(__file__))
    for path in (os.path.join(here, "result.schema.json"),
                 os.path.join(here, "..", "..", "docs", "result.schema.json")):
        if os.path.isfile(path):
            return path
    raise InputError("the records' schema, result.schema.json, is not beside the tools")


_validator = []


def validate(record):
    """Raises InputError naming the first place where the record breaks its
    schema."""
    try:
        import jsonschema
    except ImportError:
        raise InputError("python3-jsonschema is missing, which checks records when they are "
                         "read (apt-get install python3-jsonschema)") from None
    if not _validator:
        with open(schema_path(), encoding="utf-8") as stream:
            _validator.append(jsonschema.Draft202012Validator(json.load(stream)))
    try:
        error = jsonschema.exceptions.best_match(_validator[0].iter_errors(record))
    except RecursionError:
        raise InputError("not a valid record: nested too deeply") from None
    if error is not None:
        where = "/".join(str(p) for p in error.absolute_path) or "the top level"
        raise InputError(f"not a valid record: at {excerpt(where, 80)}: "
                         f"{excerpt(error.message, 100)}")


def load_inputs(names):
    """Every input in order; an error names the file it is about."""
    records = []
    for name in names:
        try:
            records.append(load_input(name))
        except InputError as error:
            source = "standard input" if name == "-" else name
            raise InputError(f"{source}: {error}") from None
    return records


def common(values):
    """The one value that all known values share, else None."""
    known = {v for v in values if v is not None}
    return known.pop() if len(known) == 1 else None


def row_runs(sweep, row):
    """The runs of one row of a sweep's results table."""
    return [run for run in sweep["runs"] if run["value"] == row["value"]]


def row_setting(sweep, runs, key):
    """What a row's runs printed alike, else what the whole sweep's runs
    did: a run that stopped early printed less (no workload, no duration)."""
    return common(r[key] for r in runs) or common(r[key] for r in sweep["runs"])


def all_runs(record):
    return [run for sweep in record["result"]["sweeps"] for run in sweep["runs"]]


def context_value(record, *keys):
    value = record.get("context")
    for key in keys:
        value = value.get(key) if isinstance(value, dict) else None
    return value


def processor(record):
    """The machine's name: the processor's brand as the runs printed it,
    blanks trimmed, so that a record and a saved output of one machine
    share it; else the context's model name."""
    brand = common(" ".join(r["processor"].split()) or None for r in all_runs(record)
                   if r["processor"])
    model = context_value(record, "processor", "model")
    return brand or (" ".join(model.split()) if isinstance(model, str) else None) or None


def labels(records, names, given=()):
    """One label per input: the one given, else the processor, else the file
    name; inputs that would share a label get their file name added."""
    bases = [os.path.basename(n) if n != "-" else "standard input" for n in names]
    found = [given[k] if k < len(given) else processor(record) or bases[k]
             for k, record in enumerate(records)]
    return [f"{label} ({bases[k]})" if k >= len(given) and found.count(label) > 1
            and label != bases[k] else label for k, label in enumerate(found)]


def now_utc():
    return datetime.datetime.now(datetime.timezone.utc)
