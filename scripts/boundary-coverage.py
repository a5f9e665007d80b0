#!/usr/bin/env python3
"""Prints which conformance cases reach each method of platform::Os under Wine.

A method is reached when a case (a TEST block of tests/conformance/case_*.cpp)
or a helper in a case file calls it; a case that skips itself on Wine
(SKIP_ON_WINE) reaches nothing there. A method no case reaches under Wine must
be listed in tests/conformance/README.md, section "Boundary methods behind a
Wine gap", with the gap and the documentation the simulated side rests on.
Exits 1 when a method has neither.

With --transactions LOG (the call log of scripts/wine-transactions.sh: a
"calls" and a "shims" line per engine run), it prints instead which methods
the whole transactions under Wine reached, and how: with Wine's real answer,
through a shim (the shim changed at least one of its answers), or not at all.
    scripts/boundary-coverage.py [--transactions LOG]
"""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
os_header = (root / "src/platform/os.hpp").read_text()
methods = sorted(set(re.findall(r"virtual [^(;]*?\b([a-z_][a-z0-9_]*)\(", os_header)))

# The method whose answers each shim of the Wine adapter changes.
SHIMMED = {"rename_ex": "set_file_rename_info_ex", "disposition_ex": "set_file_disposition_info_ex",
           "volume_flags": "get_volume_file_system_flags", "volume_flush": "flush_file_buffers",
           "owner_sids": "get_security_info", "other_token_user": "get_token_information",
           "list_shared": "find_files"}


def transactions(log_path):
    calls = {m: 0 for m in methods}
    changed = {}
    for line in pathlib.Path(log_path).read_text().splitlines():
        kind, *pairs = line.split()
        for name, n in (pair.split("=") for pair in pairs):
            if kind == "calls":
                calls[name] = calls.get(name, 0) + int(n)
            elif kind == "shims":
                changed[SHIMMED[name]] = changed.get(SHIMMED[name], 0) + int(n)
    real = [m for m in methods if calls[m] and not changed.get(m)]
    shimmed = [m for m in methods if calls[m] and changed.get(m)]
    unreached = [m for m in methods if not calls[m]]
    for m in methods:
        how = "not reached" if not calls[m] else (
            f"through a shim ({changed[m]} answers changed)" if changed.get(m) else "real answer")
        print(f"{m:38} {calls[m]:6} calls  {how}")
    print(f"boundary-coverage: whole transactions under Wine: {len(methods)} methods, "
          f"{len(real)} reached with the real answer, {len(shimmed)} through a shim, "
          f"{len(unreached)} not reached")


if len(sys.argv) == 3 and sys.argv[1] == "--transactions":
    transactions(sys.argv[2])
    sys.exit(0)

test_start = re.compile(r"^(?:TEST|TEST_F|TEST_P)\((\w+),\s*(\w+)\)", re.M)
reached = {m: [] for m in methods}
skipped = {m: [] for m in methods}
for case_file in sorted((root / "tests/conformance").glob("case_*.cpp")):
    text = case_file.read_text()
    starts = list(test_start.finditer(text))
    blocks = []
    # Helpers before the first case and between cases count for the file's
    # cases that run on Wine.
    helper_text = text[: starts[0].start()] if starts else text
    for i, start in enumerate(starts):
        end = starts[i + 1].start() if i + 1 < len(starts) else len(text)
        body = text[start.start():end]
        # A helper after a case's closing brace at column 0 belongs to the helpers.
        closing = body.find("\n}\n")
        if closing >= 0:
            helper_text += body[closing + 3:]
            body = body[: closing + 3]
        blocks.append((f"{start.group(1)}.{start.group(2)}", body, "SKIP_ON_WINE" in body))
    # A fixture whose set-up skips on Wine skips every case built on it.
    for fixture in set(re.findall(r"^TEST_F\((\w+),", text, re.M)):
        definition = re.search(r"(?:struct|class) " + fixture + r"\b.*?\n};", helper_text, re.S)
        if definition and "wine gap" in definition.group(0):
            blocks = [(name, body, skip or name.startswith(fixture + "."))
                      for name, body, skip in blocks]
    runs_on_wine = any(not skip for _, _, skip in blocks)
    for method in methods:
        call = re.compile(r"[.>]" + method + r"\(")
        for name, body, skip in blocks:
            if call.search(body):
                (skipped if skip else reached)[method].append(name)
        if call.search(helper_text) and runs_on_wine:
            reached[method].append(f"{case_file.stem} helpers")

readme = (root / "tests/conformance/README.md").read_text()
section = readme.split("## Boundary methods behind a Wine gap", 1)
gaps = set(re.findall(r"^\| `(\w+)` \|", section[1], re.M)) if len(section) == 2 else set()

missing = []
print(f"{'method':38} reached under Wine by")
for method in methods:
    if reached[method]:
        shown = ", ".join(reached[method][:3])
        more = len(reached[method]) - 3
        print(f"{method:38} {shown}{f' (+{more} more)' if more > 0 else ''}")
    elif method in gaps:
        print(f"{method:38} - (named Wine gap; skipped cases: {', '.join(skipped[method]) or 'none'})")
    else:
        print(f"{method:38} NOTHING")
        missing.append(method)
count_reached = sum(1 for m in methods if reached[m])
count_gap = sum(1 for m in methods if not reached[m] and m in gaps)
print(f"boundary-coverage: {len(methods)} methods, {count_reached} reached under Wine, "
      f"{count_gap} behind a named gap, {len(missing)} with neither")
if missing:
    print("boundary-coverage: no case and no listed gap for: " + ", ".join(missing), file=sys.stderr)
    sys.exit(1)
