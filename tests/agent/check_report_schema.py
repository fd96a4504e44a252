#!/usr/bin/python3
"""The agent check's JSON report, read back against its schema: every field
of each scenario, the time limit as given, kept folders only with --keep,
the signal sent in a cancellation, and the exact bytes of a text that is not
UTF-8. Needs Debian's python3-jsonschema.

Usage: check_report_schema.py <umx-agent-check> <umx-sample-agent> <schema>
"""
import json
import subprocess
import sys
import tempfile

import jsonschema

check, sample, schema_path = sys.argv[1:4]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
failures = []


def report(*options, agent_args=()):
    """Runs the check; its report, parsed strictly as UTF-8."""
    with tempfile.TemporaryDirectory() as work:
        path = f"{work}/report.json"
        subprocess.run([check, "--json", path, *options, "--", sample, *agent_args],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        with open(path, "rb") as f:
            return json.loads(f.read().decode("utf-8", "strict"))


def expect(what, condition):
    if not condition:
        failures.append(what)


# The default command line, with a time limit of its own and no --keep.
plain = report("--timeout", "7.5", "--only", "cancel:*")
for error in validator.iter_errors(plain):
    failures.append(f"plain report: {error.json_path}: {error.message}")
expect("the time limit as given", plain["timeLimitSeconds"] == 7.5)
expect("keptIn null without --keep", plain["keptIn"] is None)
expect("kept null without --keep", all(s["kept"] is None for s in plain["scenarios"]))
cancelled = [s for s in plain["scenarios"] if s["name"] == "cancel:init"]
expect("cancel:init ran", cancelled and cancelled[0]["ran"])
expect("SIGTERM sent in cancel:init",
       cancelled and cancelled[0]["exit"]["sentSignal"] == "SIGTERM")
expect("no signal sent in the whole job", plain["scenarios"][0]["exit"]["sentSignal"] is None)

# A command line holding bytes that are not UTF-8, with --keep.
with tempfile.TemporaryDirectory() as keep_parent:
    odd = report("--keep", f"{keep_parent}/kept", "--only", "missing:-vm",
                 agent_args=["-j", "1234", "-a", "2:17", "-cn", "c\udcff", "-qs", "zentserver.localdomain",
                             "-jt", "t", "-vm", "vm01"])
for error in validator.iter_errors(odd):
    failures.append(f"report with odd bytes: {error.json_path}: {error.message}")
expect("keptIn names the folder", odd["keptIn"] and odd["keptIn"].endswith("/kept"))
expect("every scenario that ran is kept",
       all(s["kept"] is not None for s in odd["scenarios"] if s["ran"]))
bytes_list = odd.get("commandLineBytes", [])
expect("the exact bytes beside the client name",
       "63ff" in [b for b in bytes_list if b is not None])

for failure in failures:
    print(f"FAIL: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)
