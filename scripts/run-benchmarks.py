#!/usr/bin/env python3
"""Runs the benchmarks of a build and writes docs/performance.md.

Three measurements, all from the one build directory:
  - rbar_bench under Google Benchmark: ns per call of the format engine, snprintf and {fmt}
    for each text, and the time of a driver run over each scan machine with its reads;
  - rbar_bench --count-instructions under callgrind: instructions per call and per scan;
  - objdump -h of RbarSurvey.efi: the image's size and its sections, and the linker map
    (RbarSurvey.map, beside the image): the bytes of every function and constant;
  - rbar-survey and lspci over two generated 200 MB dump files (scripts/bench_large_files.py):
    time and peak memory of each, beside each other;
and says which of the engine's and the image's goals the figures meet.
rbar_bench checks, before it measures anything, that every renderer gives the same text, and
fails otherwise; so does this script.
"""

import argparse
import datetime
import shutil
import glob
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

from bench_large_files import large_file_rows, large_file_table

# Google Benchmark settings: the median of REPETITIONS runs of at least MIN_TIME seconds each.
REPETITIONS = 5
MIN_TIME = "0.2"

RENDERERS = ["engine", "engine_wide", "snprintf", "fmt"]
RENDERER_TITLES = {
    "engine": "engine (narrow)",
    "engine_wide": "engine (wide, as printed)",
    "snprintf": "snprintf",
    "fmt": "fmt::format_to_n",
}

# What each case renders, in the order of the table.
FORMAT_CASES = [
    ("report_sizes", "`RBarSizes %lu\\n` with 16128: the sizes line"),
    ("report_bar", "`BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\\n` with 0, 8, 13, 13: the BAR line"),
    ("mixed_300", "a 300-character line: text and 23 directives (`%a %d %u %04X %06X %016lX %lu %-8a %5d %X`)"),
    ("guid", "`%g`: EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID"),
    ("time", "`%t`: 7 December 2026, 22:05"),
    ("status_named", "`%r` of EFI_INVALID_PARAMETER (snprintf and {fmt} print its text with `%s`)"),
    ("status_number", "`%r` of a status without a name: eight hex digits (`%08X` elsewhere)"),
    ("character", "`%c` of 'A'"),
    ("narrow_string", "`%a` of a 15-character string (`%s` elsewhere)"),
    ("wide_string", "`%s` of a 15-character UCS-2 string (a narrow `%s` elsewhere)"),
    ("wide_string_field", "`%20.5s` of the same string: cut to 5, padded to 20"),
]

# The goals: the report lines and the long line, as the driver prints them (wide format, wide
# buffer), at most {fmt}'s instructions; every extended conversion below snprintf's; the image
# at most 10 KiB, 8 KiB aimed at.
FMT_GOAL_CASES = ["report_sizes", "report_bar", "mixed_300"]
SNPRINTF_GOAL_CASES = ["guid", "time", "status_named", "status_number", "character",
                       "narrow_string", "wide_string", "wide_string_field"]
GOAL_RENDERER = "engine_wide"
IMAGE_LIMIT = 10240
IMAGE_AIM = 8192

# Sources whose functions are all built for size in the image: the survey's files through their
# EFI_COMPILE_OPTIONS (-Oz), the engine's rarely used files through a minsize pragma.
SIZE_PRAGMA = "#pragma clang attribute push(__attribute__((minsize))"
SIZE_ATTRIBUTE = "[[clang::minsize]]"

SCAN_CASES = [
    ("empty_buses_0_255", "buses 0-255, no function present"),
    ("empty_bus_0", "bus 0 only, no function present"),
    ("twenty_devices", "20 devices (28 functions) on buses 0-7, 4 with Resizable BAR"),
]


def run(command, **kwargs):
    return subprocess.run(command, check=True, text=True, capture_output=True, **kwargs)


def first_line(command):
    try:
        return run(command).stdout.strip().splitlines()[0]
    except (OSError, subprocess.CalledProcessError, IndexError):
        return "unknown"


def package_version(package):
    try:
        return run(["dpkg-query", "-W", "-f=${Version}", package]).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def machine():
    model = "unknown"
    with open("/proc/cpuinfo", encoding="utf-8") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return {
        "CPU": model,
        "Cores": str(os.cpu_count()),
        "Kernel": platform.release(),
        "Host compiler": first_line(["clang++", "--version"]),
        "Image linker": first_line(["lld-link", "--version"]),
        "C library": first_line(["ldd", "--version"]),
        "{fmt}": package_version("libfmt-dev"),
        "Google Benchmark": package_version("libbenchmark-dev"),
        "valgrind": first_line(["valgrind", "--version"]),
        "Date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
    }


def benchmark_times(bench):
    """Median real time (ns) and counters of each benchmark."""
    result = run([bench, "--benchmark_format=json", f"--benchmark_repetitions={REPETITIONS}",
                  "--benchmark_report_aggregates_only=true", f"--benchmark_min_time={MIN_TIME}"])
    medians = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        if entry.get("error_occurred"):
            sys.exit(f"run-benchmarks: {entry['run_name']}: {entry.get('error_message')}")
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[entry["time_unit"]]
        name = entry["run_name"].removesuffix("/manual_time")
        medians[name] = {"ns": entry["real_time"] * scale, "counters": entry}
    return medians


def instruction_counts(bench):
    """Instructions of each dump, per call for the format cases and per scan."""
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "callgrind.out")
        result = run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", bench,
                      "--count-instructions"])
        calls = int(re.search(r"calls per format case: (\d+)", result.stdout).group(1))
        counts = {}
        for dump in glob.glob(out + ".*"):
            with open(dump, encoding="utf-8") as text:
                content = text.read()
            name = re.search(r"^desc: Trigger: Client Request: (\S+)$", content, re.M).group(1)
            total = int(re.search(r"^summary: (\d+)$", content, re.M).group(1))
            counts[name] = total / calls if name.startswith("format/") else total
    return counts, calls


def image_sections(image):
    sections = []
    for line in run(["objdump", "-h", image]).stdout.splitlines():
        fields = line.split()
        if len(fields) >= 7 and fields[0].isdigit():
            sections.append((fields[1], int(fields[2], 16)))
    return os.path.getsize(image), sections


def undecorate(symbol):
    """The C++ name of a map symbol (Microsoft decoration): its unqualified name, with the
    arguments of a template instance; string literals are named as such."""
    if symbol.startswith("??_C@"):
        return "string literal"
    if not symbol.startswith("?"):
        return symbol
    template = symbol.startswith("??$")
    name = symbol[3 if template else 1:].split("@")[0]
    if not template:
        return name
    try:
        text = run([shutil.which("llvm-undname-14") or "llvm-undname", symbol]).stdout
    except (OSError, subprocess.CalledProcessError):
        return name + "<>"
    start = text.find(name + "<")
    if start < 0:
        return name + "<>"
    depth = 0
    for index in range(start + len(name), len(text)):
        depth += {"<": 1, ">": -1}.get(text[index], 0)
        if depth == 0:
            return text[start:index + 1]
    return name + "<>"


def map_entries(map_file, code_end):
    """(bytes, symbol, object, is_code) of every public and static symbol of the image's code
    section, in address order; a symbol's size runs to the next symbol, or to CodeEnd, the
    section's size, for the last one. Symbols past the map's listed parts (literals the linker
    adds) are data."""
    with open(map_file, encoding="utf-8") as handle:
        text = handle.read()
    bounds = []
    for m in re.finditer(r"^ 0001:([0-9a-f]{8}) ([0-9a-f]{8})H (\S+)", text, re.M):
        bounds.append((int(m.group(1), 16), int(m.group(2), 16), m.group(3)))
    symbols = []
    for m in re.finditer(r"^ 0001:([0-9a-f]{8})\s+(\S+)\s+[0-9a-f]{16}\s+(?:f\s+)?(\S+)$",
                         text, re.M):
        symbols.append((int(m.group(1), 16), m.group(2), m.group(3)))
    symbols.sort()
    entries = []
    for index, (address, symbol, obj) in enumerate(symbols):
        section = next((b for b in bounds if b[0] <= address < b[0] + b[1]), None)
        end = symbols[index + 1][0] if index + 1 < len(symbols) else code_end
        if section is not None:
            end = min(end, section[0] + section[1])
        is_code = section is not None and section[2] == ".text"
        entries.append((end - address, symbol, obj.removesuffix(".cpp.obj"), is_code))
    return entries


DRIVER_FILES = ("DriverEntry", "ScanRootBridges", "PciConfigAccess", "ScanBusRange",
                "CapabilityWalk", "RebarEvaluation")


def built_for(source_dir, obj, name):
    """"size" or "speed": how the image builds the function Name of object Obj."""
    if obj.startswith(DRIVER_FILES):
        return "size"
    source = os.path.join(source_dir, "print", obj + ".cpp")
    try:
        content = open(source, encoding="utf-8").read()
    except OSError:
        return "speed"
    if SIZE_PRAGMA in content:
        return "size"
    base = name.split("<")[0].split("::")[-1]
    if re.search(re.escape(SIZE_ATTRIBUTE) + r"[^;{}]*\b" + re.escape(base) + r"\s*\(", content):
        return "size"
    return "speed"


def size_table(source_dir, map_file, code_end):
    lines = [
        "| Function or constant | Object | Bytes | Built for |",
        "|---|---|---:|---|",
    ]
    for size, symbol, obj, is_code in map_entries(map_file, code_end):
        name = undecorate(symbol)
        kind = built_for(source_dir, obj, name) if is_code else "data"
        lines.append(f"| `{name}` | {obj} | {size:,} | {kind} |")
    return lines


def goals(counts, image_size):
    """(goal, figure, met) rows for the engine's and the image's goals."""
    rows = []
    for case in FMT_GOAL_CASES:
        engine = counts[f"format/{case}/{GOAL_RENDERER}"]
        fmt = counts[f"format/{case}/fmt"]
        rows.append((f"`{case}` (wide) at most {{fmt}}'s instructions",
                     f"{engine:,.0f} against {fmt:,.0f}", engine <= fmt))
    for case in SNPRINTF_GOAL_CASES:
        engine = counts[f"format/{case}/{GOAL_RENDERER}"]
        snprintf = counts[f"format/{case}/snprintf"]
        rows.append((f"`{case}` (wide) below snprintf's instructions",
                     f"{engine:,.0f} against {snprintf:,.0f}", engine < snprintf))
    rows.append((f"`RbarSurvey.efi` at most {IMAGE_LIMIT:,} bytes", f"{image_size:,} bytes",
                 image_size <= IMAGE_LIMIT))
    rows.append((f"`RbarSurvey.efi` at most {IMAGE_AIM:,} bytes (aimed at)", f"{image_size:,} bytes",
                 image_size <= IMAGE_AIM))
    return rows


def format_table(times, counts):
    lines = [
        "| Text | Renderer | ns/call | × snprintf | instructions/call | × snprintf |",
        "|---|---|---:|---:|---:|---:|",
    ]
    for case, description in FORMAT_CASES:
        base_time = times[f"format/{case}/snprintf"]["ns"]
        base_count = counts[f"format/{case}/snprintf"]
        first = True
        for renderer in RENDERERS:
            name = f"format/{case}/{renderer}"
            if name not in times:
                continue
            ns = times[name]["ns"]
            count = counts[name]
            label = f"{description}" if first else ""
            lines.append(f"| {label} | {RENDERER_TITLES[renderer]} | {ns:.1f} | {ns / base_time:.2f} "
                         f"| {count:.0f} | {count / base_count:.2f} |")
            first = False
    return lines


def scan_table(times, counts):
    lines = [
        "| Machine | Reads made | Reads the rules require | Time per scan | Instructions per scan "
        "| Instructions per read |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for case, description in SCAN_CASES:
        entry = times[f"scan/{case}"]
        reads = int(entry["counters"]["reads"])
        expected = int(entry["counters"]["expected_reads"])
        instructions = counts[f"scan/{case}"]
        lines.append(f"| {description} | {reads:,} | {expected:,} | {entry['ns'] / 1e3:,.1f} µs "
                     f"| {instructions:,} | {instructions / reads:.0f} |")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build directory configured with RBAR_BENCH")
    parser.add_argument("--output", required=True, help="Markdown file to write")
    args = parser.parse_args()

    bench = os.path.join(args.build, "tests", "bench", "rbar_bench")
    image = os.path.join(args.build, "RbarSurvey.efi")
    image_map = os.path.join(args.build, "RbarSurvey.map")
    source_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    try:
        print("run-benchmarks: timing (Google Benchmark)", file=sys.stderr)
        times = benchmark_times(bench)
        print("run-benchmarks: counting instructions (callgrind)", file=sys.stderr)
        counts, calls = instruction_counts(bench)
        image_size, sections = image_sections(image)
        print("run-benchmarks: rbar-survey and lspci on 200 MB dump files", file=sys.stderr)
        with tempfile.TemporaryDirectory() as scratch:
            large_rows = large_file_rows(os.path.join(args.build, "tools", "rbar-survey"),
                                         source_dir, scratch)
    except subprocess.CalledProcessError as error:
        sys.exit(f"run-benchmarks: {' '.join(error.cmd)} failed:\n{error.stderr}")

    lines = [
        "# Performance",
        "",
        "Generated by `make bench` (`scripts/run-benchmarks.py`); do not edit by hand.",
        "",
        "## Machine",
        "",
        "| | |",
        "|---|---|",
    ]
    lines += [f"| {key} | {value} |" for key, value in machine().items()]
    goal_rows = goals(counts, image_size)
    lines += [
        "",
        "## Goals",
        "",
        "| Goal | Figure | Met |",
        "|---|---|---|",
    ]
    lines += [f"| {goal} | {figure} | {'yes' if met else '**no**'} |" for goal, figure, met in goal_rows]
    lines += [
        "",
        "Times are the median of "
        f"{REPETITIONS} Google Benchmark repetitions of at least {MIN_TIME} s each, in one run, "
        "on a shared machine: read them as ±10 %. Instruction counts (callgrind, the same binary) "
        "do not depend on the load and are the figures to compare across changes. The host "
        "code is built with `-O3` (CMake Release).",
        "",
        "## Format engine against snprintf and {fmt}",
        "",
        "Each text is rendered into a buffer of 321 characters, the console print buffer's size. "
        "Before timing, the benchmark checks that all renderers produce exactly the same "
        "characters; the engine's wide rendering is the driver's own call (wide format, wide "
        "buffer) and is compared character by character. Arguments are read from memory at each "
        "call, and snprintf is called as written (`-fno-builtin-snprintf`). The engine reads "
        "its arguments from a prepared slot list, as `Print` hands them over; "
        f"instructions are counted over {calls} calls and include a few of the loop around them.",
        "",
    ]
    lines += format_table(times, counts)
    lines += [
        "",
        "## Scan on the hosted platform",
        "",
        "One driver run (`DriverEntry` on a fresh hosted platform holding one root bridge) per "
        "iteration, timed alone. Reads are counted by the hosted bridge; the count the rules "
        "require is computed from the machine's description by `tests/host/ScanReadCount.h`, and "
        "`tests/host/ScanReadCountTest.cpp` asserts that they agree. Times and instructions "
        "include the hosted platform's work for each read (finding the function, copying the "
        "bytes, logging the read), which is most of them; firmware reads cost what the "
        "firmware's root bridge makes them cost.",
        "",
    ]
    lines += scan_table(times, counts)
    lines += [
        "",
        "## EFI image",
        "",
        f"`RbarSurvey.efi`: {image_size:,} bytes.",
        "",
        "| Section | Size (bytes) |",
        "|---|---:|",
    ]
    lines += [f"| `{name}` | {size:,} |" for name, size in sections]
    lines += [
        "",
        "The linker places the read-only data in the code section. Bytes of each function and "
        "constant, from the linker map (`RbarSurvey.map`), in image order; a function's bytes run "
        "to the next symbol, so they include its alignment padding. Functions built for speed are "
        "compiled at the image's `-O2`: the walk of a wide format into a wide buffer and what the "
        "report lines' directives use. Those built for size are the survey's files (`-Oz` through "
        "their `EFI_COMPILE_OPTIONS`) and the engine's rarely used functions (`minsize`).",
        "",
    ]
    lines += size_table(source_dir, image_map, dict(sections).get(".text", 0))
    lines += [
        "",
        "## rbar-survey and lspci on large dump files",
        "",
        "Each file is generated at bench time and read once by `rbar-survey -F FILE` and once by "
        "`lspci -F FILE`; wall time and peak resident memory (`wait4`) of each. The goal: within "
        "twice lspci's time and memory on the same file. A damaged file is refused at its first "
        "bad line without the rest being read; a whole dump is held as its functions' bytes, "
        "not its text.",
        "",
    ]
    lines += large_file_table(large_rows)
    lines.append("")

    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as output:
        output.write("\n".join(lines))
    print(f"run-benchmarks: wrote {args.output}", file=sys.stderr)
    for goal, figure, met in goal_rows:
        print(f"run-benchmarks: {'met' if met else 'NOT MET'}: {goal}: {figure}", file=sys.stderr)


if __name__ == "__main__":
    main()
