#!/usr/bin/env python3
"""Writes a payload folder for whole transactions on Windows, under Wine and on
the simulated machine alike: the real v3 service (holvar-service.exe) with its
behaviour file, the adapted engine as the installed engine, and data files of
realistic sizes whose bytes are fixed by the version and the path.
    scripts/wine-payload.py DIR VERSION WINDOWS-BUILD-DIR [--files N]
VERSION is v1, v2 (changed files, one added, one folder gone) or v2-broken (v2
with a service that answers in protocol 2). --files N adds N generated data
files (most a few KiB, one in a hundred 1 to 2 MiB), for measurements.
"""
import argparse
import hashlib
import json
import pathlib
import shutil

BEHAVIOUR = {
    "v1": {"kind": "service", "build": "1.4.0"},
    "v2": {"kind": "service", "build": "2.0.0"},
    # Every request of its process is answered in protocol 2: a verification
    # sends two, a retry a few more.
    "v2-broken": {"kind": "service", "build": "2.0.0-protocol-2",
                  "v3": {"replies": [{"protocol": 2}] * 8}},
}

# (path, size): the data files of each version; v2 changes sizes and content,
# adds one file and drops lib/legacy.
V1 = [("uninstall.exe", 2100), ("LICENSE", 54), ("README.txt", 48),
      ("resources/geoip.dat", 12288), ("resources/rules/default.yaml", 60),
      ("config/defaults.json", 50), ("locales/en/common.json", 36),
      ("locales/de/common.json", 40), ("assets/icons/app.ico", 4286),
      ("assets/fonts/ui-regular.ttf", 9000), ("lib/core/runtime.dll", 16384),
      ("lib/core/network.dll", 12000), ("lib/legacy/compat.dll", 4096)]
V2 = [(p, s + 512 if p.endswith(".dll") else s) for p, s in V1 if not p.startswith("lib/legacy")]
V2 += [("lib/core/metrics.dll", 6144)]


def fill(path, size, label):
    """`size` bytes of a pattern seeded by the label and the path."""
    seed = hashlib.sha256(f"{label}:{path}".encode()).digest()
    block = (seed * (65536 // len(seed) + 1))[:65536]
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            out.write(block[:min(left, len(block))])
            left -= len(block)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("version", choices=sorted(BEHAVIOUR))
    parser.add_argument("windows")
    parser.add_argument("--files", type=int, default=0)
    args = parser.parse_args()
    out = pathlib.Path(args.dir)
    windows = pathlib.Path(args.windows)
    label = "v1" if args.version == "v1" else "v2"
    for rel, size in V1 if label == "v1" else V2:
        fill(out / rel, size, label)
    for i in range(args.files):
        size = (1 << 20) + (i * 7919) % (1 << 20) if i % 100 == 99 else 1024 + (i * 2654435761) % 7168
        fill(out / f"data/d{i // 100:03d}/f{i:05d}.bin", size, label)
    resources = out / "resources"
    resources.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(windows / "holvar-service.exe", resources / "holvar-service.exe")
    shutil.copyfile(windows / "wine-engine.exe", resources / "holvar-service-install.exe")
    (resources / "holvar-service.behaviour.json").write_text(
        json.dumps(BEHAVIOUR[args.version], separators=(",", ":")) + "\n")


main()
