#!/usr/bin/env python3
"""Prints which conformance cases reach each method of platform::Os under Wine.

A method is reached when a case (a TEST block of tests/conformance/case_*.cpp)
or a helper in a case file calls it; a case that skips itself on Wine
(SKIP_ON_WINE) reaches nothing there. A method no case reaches under Wine must
be listed in tests/conformance/README.md, section "Boundary methods behind a
Wine gap", with the gap and the documentation the simulated side rests on.
Exits 1 when a method has neither.
    scripts/boundary-coverage.py
"""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
os_header = (root / "src/platform/os.hpp").read_text()
methods = sorted(set(re.findall(r"virtual [^(;]*?\b([a-z_][a-z0-9_]*)\(", os_header)))

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
