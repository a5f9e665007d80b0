#!/usr/bin/env python3
"""Holds every outcome report and journal the test suite made to the published
schemas (docs/schema/), with the Debian package's JSON Schema validator.

usage: validate-contract.py CAPTURE_DIR

CAPTURE_DIR holds report/*.json and journal/*.json, as the simulated machine
copies them there while the tests run (HOLVAR_CONTRACT_CAPTURE), and
explanation/*.json, what `holvar-sim explain --json` printed in the tests. The
journals and reports of tests/data/explain, which holvar-explain.exe is held to
under Wine, are checked too. Before that, the validator must refuse a report
broken by hand, so a schema that accepts anything cannot pass. Exits 1 when a
file does not validate."""
import json
import pathlib
import sys

import jsonschema

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCHEMAS = {kind: json.loads((ROOT / "docs" / "schema" / f"{kind}.schema.json").read_text())
           for kind in ("report", "journal", "explanation")}
GOOD_REPORT = {
    "format": 1, "engine_version": "3.0.0", "command": "apply", "txid": "none",
    "outcome": "refused", "exit_code": 11,
    "primary": {"phase": "scan", "reason": "invalid_arguments", "win32": None, "rel": None},
    "recovery_error": None,
    "holders": {"status": "not_queried", "win32": None, "processes": []},
    "maintenance": [], "reboot_pending": [],
}


def validator(kind):
    schema = SCHEMAS[kind]
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def broken_reports():
    """Reports a reader must not accept."""
    wrong_code = dict(GOOD_REPORT, exit_code=0)
    no_holders = {k: v for k, v in GOOD_REPORT.items() if k != "holders"}
    extra_key = dict(GOOD_REPORT, note="hello")
    bad_reason = dict(GOOD_REPORT, primary=dict(GOOD_REPORT["primary"], reason="oops"))
    upper_txid = dict(GOOD_REPORT, txid="ABCDEF0123456789ABCDEF0123456789")
    return [wrong_code, no_holders, extra_key, bad_reason, upper_txid]


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    capture = pathlib.Path(sys.argv[1])
    reports = validator("report")
    if not reports.is_valid(GOOD_REPORT):
        print("contract: the schema refuses a valid report", file=sys.stderr)
        return 1
    for broken in broken_reports():
        if reports.is_valid(broken):
            print(f"contract: the schema accepts a broken report: {broken}", file=sys.stderr)
            return 1
    failures = 0
    counts = {}
    for kind in ("report", "journal", "explanation"):
        check = validator(kind)
        files = sorted((capture / kind).glob("*.json"))
        counts[kind] = len(files)
        for file in files:
            try:
                document = json.loads(file.read_bytes())
            except ValueError as error:
                print(f"contract: {file}: not JSON: {error}", file=sys.stderr)
                failures += 1
                continue
            errors = sorted(check.iter_errors(document), key=lambda e: list(e.path))
            if errors:
                failures += 1
                print(f"contract: {file}: {errors[0].message} at {list(errors[0].path)}",
                      file=sys.stderr)
    if counts["report"] == 0 or counts["journal"] == 0:
        print(f"contract: nothing captured in {capture} (reports {counts['report']}, "
              f"journals {counts['journal']})", file=sys.stderr)
        return 1
    # The files holvar-explain.exe is held to: each must be what the engine writes.
    fixtures = ROOT / "tests" / "data" / "explain"
    fixtures_checked = 0
    for kind in ("report", "journal"):
        check = validator(kind)
        for file in sorted(fixtures.glob(f"{kind}-*.json")):
            fixtures_checked += 1
            errors = list(check.iter_errors(json.loads(file.read_bytes())))
            if errors:
                failures += 1
                print(f"contract: {file}: {errors[0].message}", file=sys.stderr)
    print(f"contract: {counts['report']} reports, {counts['journal']} journals and "
          f"{counts['explanation']} explanations, and {fixtures_checked} files of tests/data/explain "
          f"checked against docs/schema, {failures} invalid")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
