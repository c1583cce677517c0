#!/usr/bin/env python3
"""Tests of rbar-survey, run by CTest. Each subcommand is one test; exit 0 passes, 1 fails,
77 skips (a tool the test needs is missing, or the test needs root).

  report DUMP          the tool's stdout (plain, --annotate, --explain) and stderr for DUMP
                       equal the files beside it: NAME.expected, NAME.annotated, NAME.explained,
                       NAME.stderr (those that exist; the plain report must)
  lspci DUMP           the supported and current sizes the tool reports agree with
                       `lspci -F DUMP -vvv`, an independent decoder of the same file
  windows DUMP         every bridge window the tool decodes agrees with `lspci -F DUMP -vv`
  json DUMP            --json (and --json --explain) is one valid document carrying what the
                       text report, its explanation (NAME.explained) and standard error carry
  errors               command line and dump file faults: status and message
  merge DIR            several dump files in one run
  spellings DIR        the option spellings that mean the same give the same report
  machine              this machine live equals this machine's `lspci -xxxx` dump (as root)
  machine-unprivileged the same run without root names every function it could not read whole
  arm64 DUMP           the arm64 tool (--arm64-tool, run by --runner, user-mode QEMU) prints
                       the very bytes this machine's tool prints for DUMP in every output
                       mode: standard output, standard error and exit status
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
# Exit statuses of the tool.
EXIT_OK = 0
EXIT_USAGE = 2

# Size index n stands for 1 MB x 2^n; the driver knows indexes 0 (1 MB) to 19 (512 GB).
UNIT_INDEX = {"MB": 0, "GB": 10, "TB": 20, "PB": 30}
HIGHEST_SIZE_INDEX = 19
BARS = range(0, 6)
# 1002:731F advertises exactly 256 MB to 1 GB on BAR 0 and decodes 256 MB to 8 GB.
OVERRIDE_IDS = "1002:731f"
OVERRIDE_BAR = 0
OVERRIDE_ADVERTISED = 0x700
OVERRIDE_MASK = 0x3F00

# Functions on which lspci and the driver see different things by design, per fixture: the
# tool must report nothing for them although lspci decodes a Resizable BAR capability.
LSPCI_DIFFERENCES = {
    "ext-chain-budget": {
        "0000:00:01.0": "the capability lies past the 480 headers the driver examines",
    },
    "single-function": {
        "0000:02:00.%d" % function: "function 0 is single-function: functions 1 to 7 are skipped"
        for function in range(1, 8)
    },
}


class Failure(Exception):
    pass


def run(arguments, cwd=None, user=None):
    """Runs a command; returns (status, stdout, stderr) as text."""
    if user is not None:
        arguments = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups"] + arguments
    done = subprocess.run(arguments, cwd=cwd, capture_output=True, text=True, check=False)
    return done.returncode, done.stdout, done.stderr


def read_text(path):
    with open(path, encoding="ascii", newline="") as file:
        return file.read()


def expect_equal(what, actual, expected):
    if actual != expected:
        raise Failure("%s differs\n--- expected\n%s--- actual\n%s" % (what, expected, actual))


def size_index(text):
    """'256MB' or '256 MB' as a size index (8)."""
    match = re.fullmatch(r"(\d+) ?([MGTP]B)", text)
    if not match:
        raise Failure("size %r not understood" % text)
    count = int(match.group(1))
    if count & (count - 1):
        raise Failure("size %r is not a power of two" % text)
    return UNIT_INDEX[match.group(2)] + count.bit_length() - 1


def parse_lspci(text):
    """`lspci -vvvnD` output as {address: (ids, [(bar, current index, supported indexes)])}."""
    functions = {}
    entries = None
    in_rebar = False
    for line in text.splitlines():
        header = re.match(r"^([0-9a-f]{4,8}:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) [0-9a-f]{4}: "
                          r"([0-9a-f]{4}:[0-9a-f]{4})", line)
        if header:
            entries = []
            functions[header.group(1)] = (header.group(2), entries)
            in_rebar = False
            continue
        if re.match(r"^\tCapabilities: ", line):
            in_rebar = "Physical Resizable BAR" in line
            continue
        bar = re.match(r"^\t\tBAR (\d+): current size: (\S+), supported:(.*)$", line)
        if in_rebar and bar:
            supported = [size_index(size) for size in bar.group(3).split()]
            entries.append((int(bar.group(1)), size_index(bar.group(2)), supported))
    return functions


def expected_bars(ids, entries):
    """What the driver should print for a function, from lspci's decoding: for each BAR 0-5
    with an entry (the first one naming it) and a non-empty mask, (bar, mask, current)."""
    expected = []
    for bar in BARS:
        named = [entry for entry in entries if entry[0] == bar]
        if not named:
            continue
        _, current, supported = named[0]
        mask = sum(1 << index for index in supported if index <= HIGHEST_SIZE_INDEX)
        if ids == OVERRIDE_IDS and bar == OVERRIDE_BAR and mask == OVERRIDE_ADVERTISED:
            mask = OVERRIDE_MASK
        if mask:
            expected.append((bar, mask, current))
    return expected


def parse_annotated(text):
    """--annotate output as {address: (ids, [line, ...])}."""
    functions = {}
    lines = None
    for line in text.splitlines():
        header = re.fullmatch(r"([0-9a-f]{4,8}:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) "
                              r"([0-9a-f]{4}:[0-9a-f]{4})", line)
        if header:
            lines = []
            functions[header.group(1)] = (header.group(2), lines)
        elif lines is None:
            raise Failure("report line %r before any function header" % line)
        else:
            lines.append(line)
    return functions


def check_against_lspci(address, expected, lines):
    """The tool's lines for one function against what lspci's decoding says."""
    sizes = [line for line in lines if line.startswith("RBarSizes ")]
    expect_equal(address + " RBarSizes values", "%s\n" % [int(line.split()[1]) for line in sizes],
                 "%s\n" % [mask for _, mask, _ in expected])
    position = -1
    for index, line in enumerate(lines):
        if line.startswith("RBarSizes "):
            position += 1
            continue
        bar_line = re.fullmatch(r"BAR (\d+) RBAR CURRENT (\d+) RBAR MAX (\d+) RBAR NEW (\d+)", line)
        if not bar_line:
            continue
        bar, mask, current = expected[position]
        shown = [int(value) for value in bar_line.groups()]
        expect_equal(address + " BAR line", "%s\n" % shown[:3],
                     "%s\n" % [bar, current, mask.bit_length() - 1])
        words = lines[index + 1] if index + 1 < len(lines) else ""
        size_words = re.fullmatch(r"  (\d+ [MGTP]B) -> (\d+ [MGTP]B)", words)
        if not size_words:
            raise Failure("%s: no sizes in words after %r" % (address, line))
        in_words = (size_index(size_words.group(1)), size_index(size_words.group(2)))
        expect_equal(address + " sizes in words", "%d %d\n" % in_words,
                     "%d %d\n" % (current, shown[3]))


def test_report(tool, dump):
    directory, file = os.path.split(os.path.abspath(dump))
    base = os.path.join(directory, file[: -len(".dump")])
    checked = []
    status, out, err = run([tool, "--dump", file], cwd=directory)
    expect_equal("exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    expect_equal("report", out, read_text(base + ".expected"))
    checked.append("report")
    if os.path.exists(base + ".stderr"):
        expect_equal("standard error", err, read_text(base + ".stderr"))
        checked.append("standard error")
    if os.path.exists(base + ".annotated"):
        status, out, _ = run([tool, "--annotate", "-F", file], cwd=directory)
        expect_equal("--annotate exit status", "%d\n" % status, "%d\n" % EXIT_OK)
        expect_equal("annotated report", out, read_text(base + ".annotated"))
        checked.append("annotated report")
    if os.path.exists(base + ".explained"):
        status, out, _ = run([tool, "--explain", "-F", file], cwd=directory)
        expect_equal("--explain exit status", "%d\n" % status, "%d\n" % EXIT_OK)
        expect_equal("explained report", out, read_text(base + ".explained"))
        if os.path.exists(base + ".annotated"):
            kept = [line for line in out.splitlines(True) if not EXPLANATION_LINE.match(line)]
            expect_equal("explained report without its explanations", "".join(kept),
                         read_text(base + ".annotated"))
        checked.append("explained report")
    print("%s: %s as expected" % (file, ", ".join(checked)))


def test_lspci(tool, dump):
    if shutil.which("lspci") is None:
        print("lspci is not installed")
        return SKIP
    name = os.path.basename(dump)[: -len(".dump")]
    status, decoded, err = run(["lspci", "-F", dump, "-vvvnD"])
    if status != 0:
        raise Failure("lspci failed: " + err)
    status, annotated, _ = run([tool, "--annotate", "--dump", dump])
    expect_equal("exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    lspci = parse_lspci(decoded)
    reported = parse_annotated(annotated)
    differences = LSPCI_DIFFERENCES.get(name, {})
    compared = 0
    for address in sorted(set(lspci) | set(reported)):
        if address not in lspci:
            raise Failure("%s: reported, but lspci does not list it" % address)
        ids, entries = lspci[address]
        expected = expected_bars(ids, entries)
        reported_ids, lines = reported.get(address, (ids, []))
        expect_equal(address + " IDs", reported_ids + "\n", ids + "\n")
        if address in differences:
            if lines or not expected:
                raise Failure("%s: expected a known difference from lspci (%s)"
                              % (address, differences[address]))
            continue
        check_against_lspci(address, expected, lines)
        compared += len(expected)
    print("%s: %d BARs agree with lspci, %d known differences" % (name, compared, len(differences)))
    return 0


# Lines that --explain adds after a BAR line's sizes in words: at its largest size, kind, path
# tree, sharers, verdict.
EXPLANATION_LINE = re.compile(r"  (BAR \d+ already has its largest size|path:$"
                              r"|BAR \d+: (?!.*(nothing to propose|the card advertises"
                              r"|the capability also advertises))"
                              r"|shares the window of |verdict: )|    "
                              r"|root bridge [0-9a-f]{4,} buses |apertures the memory-space map "
                              r"|  (32-bit aperture|64-bit aperture|no memory window|apertures unkn)")
VERDICTS = {"fits", "window-too-small", "window-32-bit", "bar-32-bit", "placed-below-4g",
            "root-bus", "unknown-bar"}
LSPCI_WINDOW = re.compile(r"\t(Memory|Prefetchable memory) behind bridge: (?:([0-9a-f]+)-([0-9a-f]+) "
                          r"\[size=\w+\]|\[disabled\]) \[(32|64)-bit\]")
MEGABYTE_SHIFT = 20


def lspci_windows(dump):
    """{address: {"memory": window, "prefetchable": window}} from `lspci -vv`, each window as
    (enabled, base, limit, 64-bit) with base and limit None when disabled."""
    status, decoded, err = run(["lspci", "-F", dump, "-vvnD"])
    if status != 0:
        raise Failure("lspci failed: " + err)
    windows = {}
    address = None
    for line in decoded.splitlines():
        if re.match(r"[0-9a-f]{4,8}:", line):
            address = line.split()[0]
        match = LSPCI_WINDOW.fullmatch(line)
        if match:
            kind = "memory" if match.group(1) == "Memory" else "prefetchable"
            base, limit = match.group(2), match.group(3)
            windows.setdefault(address, {})[kind] = (
                base is not None, int(base, 16) if base else None,
                int(limit, 16) if limit else None, match.group(4) == "64")
    return windows


def tool_window(window):
    """A window of the tool's JSON in the form lspci_windows gives."""
    return (window["enabled"], window.get("base"), window.get("limit"), window["decodes_64_bit"])


def test_windows(tool, dump):
    if shutil.which("lspci") is None:
        print("lspci is not installed")
        return SKIP
    expected = lspci_windows(dump)
    status, out, _ = run([tool, "--json", "--explain", "--dump", dump])
    expect_equal("exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    document = json.loads(out)
    decoded = {function["address"]: function["bridge"] for function in document["functions"]
               if function["bridge"] is not None}
    expect_equal("bridges", "%s\n" % sorted(decoded), "%s\n" % sorted(expected))
    for address, bridge in decoded.items():
        for kind in ("memory", "prefetchable"):
            expect_equal("%s %s window" % (address, kind),
                         "%s\n" % (tool_window(bridge[kind + "_window"]),),
                         "%s\n" % (expected[address][kind],))
    steps = 0
    for function in document["functions"]:
        for bar in function["bars"]:
            for step in bar.get("explain", {}).get("path", []):
                kind = step["window"]["type"]
                expect_equal("path window of %s" % step["bridge"], "%s\n" % step["window"],
                             "%s\n" % decoded[step["bridge"]][kind + "_window"])
                steps += 1
    print("%d bridges agree with lspci; %d path windows agree with them" % (len(decoded), steps))
    return 0


def check_bars(address, function):
    """A function's bars against its report lines: masks, sizes in bytes and BAR line numbers."""
    masks = [int(line.split()[1]) for line in function["lines"] if line.startswith("RBarSizes ")]
    expect_equal(address + " masks", "%s\n" % [bar["size_mask"] for bar in function["bars"]],
                 "%s\n" % masks)
    bar_lines = [[int(value) for value in line.split()[1::3]] for line in function["lines"]
                 if line.startswith("BAR ")]
    shown = [[bar["bar"], bar["current_index"], bar["largest_index"], bar["proposed_index"]]
             for bar in function["bars"] if bar["proposed_index"] is not None]
    expect_equal(address + " BAR lines", "%s\n" % shown, "%s\n" % bar_lines)
    for bar in function["bars"]:
        sizes = [1 << (index + MEGABYTE_SHIFT) for index in range(32) if bar["size_mask"] >> index & 1]
        expect_equal(address + " supported sizes", "%s\n" % bar["supported_sizes"], "%s\n" % sizes)
        if bar["bar"] is None or bar["current_index"] is None:
            raise Failure("%s: a BAR of mask %d is not named" % (address, bar["size_mask"]))


def test_json(tool, dump):
    directory, file = os.path.split(os.path.abspath(dump))
    explained = os.path.join(directory, file[: -len(".dump")] + ".explained")
    _, report, err = run([tool, "--dump", file], cwd=directory)
    status, out, json_err = run([tool, "--json", "--dump", file], cwd=directory)
    expect_equal("exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    expect_equal("standard error", json_err, err)
    document = json.loads(out)
    expect_equal("schema", "%s\n" % document["schema"], "1\n")
    expect_equal("report lines", "".join(line + "\n" for line in document["report"]), report)
    expect_equal("lines of the functions", "".join(
        line + "\n" for function in document["functions"] for line in function["lines"]), report)
    messages = [line[len("rbar-survey: "):] for line in err.splitlines()]
    expect_equal("summary", document["summary"]["text"] + "\n", messages[-1] + "\n")
    expect_equal("warnings", "%s\n" % document["warnings"], "%s\n" % messages[:-1])
    for function in document["functions"]:
        check_bars(function["address"], function)
    status, out, _ = run([tool, "--json", "--explain", "--dump", file], cwd=directory)
    expect_equal("--explain exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    explained_document = json.loads(out)
    verdicts = []
    for function in explained_document["functions"]:
        for bar in function["bars"]:
            if (bar["proposed_index"] is None) != ("explain" not in bar):
                raise Failure("%s BAR %s: explanation and BAR line disagree"
                              % (function["address"], bar["bar"]))
            if "explain" in bar:
                verdicts.append(bar["explain"])
                if bar["explain"]["verdict"] not in VERDICTS:
                    raise Failure("unknown verdict %r" % bar["explain"]["verdict"])
    if os.path.exists(explained):
        texts = [line[len("  verdict: "):] for line in read_text(explained).splitlines()
                 if line.startswith("  verdict: ")]
        expect_equal("verdicts", "%s\n" % [entry["verdict_text"] for entry in verdicts],
                     "%s\n" % texts)
    print("%s: %d functions, %d report lines, %d verdicts; JSON as expected"
          % (file, len(document["functions"]), len(document["report"]), len(verdicts)))
    return 0


# Malformed dumps: (case, file text, message after "rbar-survey: ").
ONE_LINE = " 00" * 16
# A whole function of 64 bytes, to follow the facts lines of the cases below.
HOST_BRIDGE = "00:00.0 Host bridge\n" + "".join("%02x:%s\n" % (offset, ONE_LINE)
                                               for offset in range(0, 64, 16))

MALFORMED_DUMPS = [
    ("truncated function", "00:00.0 Host bridge\n" + "".join(
        "%02x:%s\n" % (offset, ONE_LINE) for offset in range(0, 48, 16)),
     "bad.dump:4: 00:00.0 ends after 48 bytes; lspci prints 64, 256 or 4096"),
    ("offset out of order", "00:00.0 Host bridge\n00:%s\n20:%s\n" % (ONE_LINE, ONE_LINE),
     "bad.dump:3: offset 20 where 10 was expected"),
    ("byte not hex", "00:00.0 Host bridge\n00:%s zz\n" % (" 00" * 15),
     "bad.dump:2: byte 15 is not a space and two hex digits"),
    ("hex line first", "00:%s\n" % ONE_LINE,
     "bad.dump:1: hex line outside a function: a function header must come first"),
    ("function listed twice", ("00:00.0 Host bridge\n" + "".join(
        "%02x:%s\n" % (offset, ONE_LINE) for offset in range(0, 64, 16)) + "\n") * 2,
     "bad.dump:7: function 00:00.0 already listed at line 1"),
    ("report file cut short", "@rbar-survey-report 1\r\n# rbar-survey 1.0.0\r\n" + HOST_BRIDGE,
     'bad.dump: the report file has no end marker line "@end": it was not saved whole'),
    ("text after the end marker", "@rbar-survey-report 1\n@end\n" + HOST_BRIDGE,
     'bad.dump:3: a line after the report file\'s end marker "@end"'),
    ("aperture line that does not parse", "@memory-space-map\n@mmio 00000040-zz free\n" + HOST_BRIDGE,
     'bad.dump:2: firmware facts line not understood: "@mmio 00000040-zz free" '
     "(see rbar-survey(1), FIRMWARE FACTS)"),
    ("allocated range before its root bridge",
     "@allocated 00000000c0000000-00000000c0ffffff mem32\n" + HOST_BRIDGE,
     'bad.dump:1: firmware facts line not understood: '
     '"@allocated 00000000c0000000-00000000c0ffffff mem32" (see rbar-survey(1), FIRMWARE FACTS)'),
]

# Command lines: (case, arguments, status, text that standard error must hold).
COMMAND_LINES = [
    ("unknown option", ["--bogus"], EXIT_USAGE,
     'rbar-survey: unknown option "--bogus"\nTry \'rbar-survey --help\'.\n'),
    ("dump without file", ["--dump"], EXIT_USAGE, "rbar-survey: option --dump needs a dump file\n"),
    ("bare argument", ["file.dump"], EXIT_USAGE, 'rbar-survey: unexpected argument "file.dump"'),
    ("missing dump", ["-F", "missing.dump"], EXIT_USAGE,
     "rbar-survey: missing.dump: cannot open: No such file or directory\n"),
    ("empty dump name", ["--dump="], EXIT_USAGE, "rbar-survey: empty dump file name\n"),
    ("two documents", ["--json", "--prometheus", "-F", "-"], EXIT_USAGE,
     "rbar-survey: --json and --prometheus each print the whole report; give one of them\n"),
    ("standard input twice", ["-F", "-", "--dump", "-"], EXIT_USAGE,
     "rbar-survey: standard input (-) given twice as a dump file\n"),
    ("directory as dump", ["-F", "."], EXIT_USAGE,
     "rbar-survey: .: is a directory, not a dump file\n"),
    ("empty dump", ["-F", os.devnull], EXIT_USAGE,
     "rbar-survey: %s: holds no function; a dump is what `lspci -x`, `-xxx` or `-xxxx` prints\n"
     % os.devnull),
]

# Standard input that cannot be read: (case, what the shell gives as standard input, message).
STDIN_FAULTS = [
    ("standard input closed", "<&-", "rbar-survey: <stdin>: cannot read: Bad file descriptor\n"),
    ("standard input a directory", "< /", "rbar-survey: <stdin>: cannot read: Is a directory\n"),
]

# Every output mode, to an output that refuses the writes: (arguments, shell redirection,
# message). The report is not whole, so the run fails.
OUTPUT_MODES = [[], ["--annotate"], ["--explain"], ["--json"], ["--prometheus"], ["--help"],
                ["--version"]]
OUTPUT_FAULTS = [
    ("full", "> /dev/full", "rbar-survey: cannot write to standard output: No space left on device\n"),
    ("closed", ">&-", "rbar-survey: cannot write to standard output: Bad file descriptor\n"),
]
EXIT_FAILURE = 1


def shell_run(arguments, redirection, cwd):
    """Runs the tool through sh with a redirection; returns (status, stderr)."""
    command = " ".join(shlex.quote(argument) for argument in arguments) + " " + redirection
    done = subprocess.run(["sh", "-c", command], cwd=cwd, capture_output=True, text=True,
                          check=False)
    return done.returncode, done.stderr


def output_faults(tool, directory):
    """Each output mode to each refusing output: exit 1 and the fault named first."""
    failed = []
    dump = os.path.join(os.path.dirname(os.path.abspath(__file__)), "override-navi10.dump")
    for mode in OUTPUT_MODES:
        for case, redirection, message in OUTPUT_FAULTS:
            status, err = shell_run([tool] + mode + ["-F", dump], redirection, directory)
            if status != EXIT_FAILURE or not err.startswith(message):
                failed.append("%s output %s: status %d, stderr %r" % (case, mode, status, err))
    for case, redirection, message in STDIN_FAULTS:
        status, err = shell_run([tool, "-F", "-"], redirection, directory)
        if status != EXIT_USAGE or err != message:
            failed.append("%s: status %d, stderr %r" % (case, status, err))
    return failed


def test_errors(tool):
    failed = []
    with tempfile.TemporaryDirectory() as directory:
        for case, text, message in MALFORMED_DUMPS:
            with open(os.path.join(directory, "bad.dump"), "w", encoding="ascii") as file:
                file.write(text)
            status, out, err = run([tool, "--dump", "bad.dump"], cwd=directory)
            if (status, out, err) != (EXIT_USAGE, "", "rbar-survey: %s\n" % message):
                failed.append("%s: status %d, stdout %r, stderr %r" % (case, status, out, err))
        for case, arguments, expected, message in COMMAND_LINES:
            status, out, err = run([tool] + arguments, cwd=directory)
            if status != expected or out != "" or message not in err:
                failed.append("%s: status %d, stdout %r, stderr %r" % (case, status, out, err))
        failed += output_faults(tool, directory)
    status, out, err = run([tool, "--help"])
    if status != EXIT_OK or not out.startswith("usage: rbar-survey") or err != "":
        failed.append("--help: status %d, stdout %r, stderr %r" % (status, out, err))
    status, out, err = run([tool, "--version"])
    if status != EXIT_OK or not re.fullmatch(r"rbar-survey \d+\.\d+\.\d+\n", out) or err != "":
        failed.append("--version: status %d, stdout %r, stderr %r" % (status, out, err))
    if failed:
        raise Failure("\n".join(failed))
    print("%d error cases as expected" % (len(MALFORMED_DUMPS) + len(COMMAND_LINES) + 2 +
                                          len(OUTPUT_MODES) * len(OUTPUT_FAULTS) +
                                          len(STDIN_FAULTS)))


# Characters of the screen's text on one "# " line of a report file, which ends in CR LF.
REPORT_TEXT_CHARS = 250


def test_report_file(tool, directory):
    """Each aperture fixture saved as the boot image saves its report file (first line, the
    screen's lines after "# ", the facts, the dump, "@end", CR LF line ends): rbar-survey
    explains it as the dump itself, and lspci -F lists the same functions."""
    names = sorted(name[: -len(".dump")] for name in os.listdir(directory)
                   if name.startswith("aperture-") and name.endswith(".dump"))
    with tempfile.TemporaryDirectory() as scratch:
        for name in names:
            dump = read_text(os.path.join(directory, name + ".dump"))
            explained = read_text(os.path.join(directory, name + ".explained"))
            # libpci's dump method refuses a line of more than 253 characters before its line
            # feed: the screen's long lines are saved in pieces.
            lines = ["@rbar-survey-report 1"] + [
                "# " + line[start:start + REPORT_TEXT_CHARS]
                for line in explained.splitlines()
                for start in range(0, max(len(line), 1), REPORT_TEXT_CHARS)]
            lines += dump.splitlines() + ["@end"]
            path = os.path.join(scratch, name + ".txt")
            with open(path, "w", encoding="ascii", newline="") as file:
                file.write("".join(line + "\r\n" for line in lines))
            status, out, _ = run([tool, "--explain", "-F", path])
            expect_equal(name + " exit status", "%d\n" % status, "%d\n" % EXIT_OK)
            expect_equal(name + " explained from the report file", out, explained)
            if shutil.which("lspci") is not None:
                _, listed, _ = run(["lspci", "-F", path])
                _, plain, _ = run(["lspci", "-F", os.path.join(directory, name + ".dump")])
                expect_equal(name + " lspci -F of the report file", listed, plain)
    print("%s read as report files" % ", ".join(names))


def test_merge(tool, directory):
    """Two files in one run report in address order; a function in both files is refused."""
    status, out, err = run([tool, "--dump", "two-domains.dump", "override-navi10.dump"],
                           cwd=directory)
    expect_equal("exit status", "%d\n" % status, "%d\n" % EXIT_OK)
    # The Navi 10 cards sit on buses 0a and 0b, before domain 0's bus 17 and domain 1.
    expected = "".join(read_text(os.path.join(directory, name + ".expected"))
                       for name in ("override-navi10", "two-domains"))
    expect_equal("merged report", out, expected)
    summary = "rbar-survey: 2 root bridges, 8 functions scanned, 4 with Resizable BAR, "
    if not err.startswith(summary) or err.count("\n") != 1:
        raise Failure("merged summary %r, expected it to start with %r" % (err, summary))
    status, out, err = run([tool, "-F", "workstation.dump", "-F", "no-rebar.dump"], cwd=directory)
    expect_equal("duplicate status", "%d\n" % status, "%d\n" % EXIT_USAGE)
    expect_equal("duplicate message", err,
                 "rbar-survey: no-rebar.dump: function 0000:00:00.0 is also in workstation.dump\n")
    print("merge as expected")


# Spellings of the same command line: (arguments, file with the expected report).
SPELLINGS = [
    (["--dump=workstation.dump"], "workstation.expected"),
    (["-Fworkstation.dump"], "workstation.expected"),
    (["-F", "workstation.dump", "-a"], "workstation.annotated"),
    (["-a", "--dump", "workstation.dump"], "workstation.annotated"),
    (["--annotate", "--dump=workstation.dump"], "workstation.annotated"),
]


def test_spellings(tool, directory):
    """Every spelling of the options gives the same report."""
    failed = []
    for arguments, expected in SPELLINGS:
        status, out, _ = run([tool] + arguments, cwd=directory)
        if status != EXIT_OK or out != read_text(os.path.join(directory, expected)):
            failed.append("%s: status %d, report differs from %s" % (arguments, status, expected))
    if failed:
        raise Failure("\n".join(failed))
    print("%d spellings as expected" % len(SPELLINGS))


def machine_dump():
    """This machine's configuration space as `lspci -xxxx` prints it, or None."""
    if shutil.which("lspci") is None or os.geteuid() != 0:
        return None
    status, out, _ = run(["lspci", "-xxxx"])
    return out if status == 0 else None


def test_machine(tool):
    dump = machine_dump()
    if dump is None:
        print("needs root and lspci")
        return SKIP
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "machine.dump")
        with open(path, "w", encoding="ascii") as file:
            file.write(dump)
        for options in ([], ["--annotate"]):
            live = run([tool] + options)
            replayed = run([tool, "--dump", path] + options)
            expect_equal("live status", "%d\n" % live[0], "%d\n" % EXIT_OK)
            expect_equal("report %s" % options, live[1], replayed[1])
            expect_equal("standard error %s" % options, live[2], replayed[2])
        # The JSON documents differ only in where each function was read from.
        live_document = json.loads(run([tool, "--json"])[1])
        replayed = json.loads(run([tool, "--json", "--dump", path])[1])
        for entry in replayed["functions"] + replayed["short_functions"]:
            entry["source"] = None
        expect_equal("JSON document", json.dumps(live_document, indent=1) + "\n",
                     json.dumps(replayed, indent=1) + "\n")
        status, out, _ = run([tool, "--json", "--explain"])
        expect_equal("live --json --explain status", "%d\n" % status, "%d\n" % EXIT_OK)
        json.loads(out)
    print("live run equals the replayed dump:\n" + live[2], end="")
    return 0


def test_machine_unprivileged(tool):
    if shutil.which("setpriv") is None or machine_dump() is None:
        print("needs root, lspci and setpriv")
        return SKIP
    _, listing, _ = run(["lspci", "-Dn"])
    functions = [line.split()[0] + " " + line.split()[2] for line in listing.splitlines()]
    status, _, err = run([tool], user="nobody")
    expect_equal("status", "%d\n" % status, "%d\n" % EXIT_OK)
    lines = err.splitlines()
    expected = ["rbar-survey: %d function%s could be read only in part, as this process is not "
                "root:" % (len(functions), "" if len(functions) == 1 else "s")]
    expected += ["rbar-survey:   %s: 64 of at least 256 bytes" % function for function in functions]
    expect_equal("unprivileged warning", "\n".join(lines[: len(expected)]) + "\n",
                 "\n".join(expected) + "\n")
    if not lines[len(expected)].endswith("whole: sudo " + tool):
        raise Failure("no advice to run as root: %r" % lines[len(expected)])
    print(err, end="")
    return 0


# Every output mode, as options before the dump; the last reads the dump on standard input.
ARM64_MODES = [[], ["--annotate"], ["--explain"], ["--json"], ["--json", "--explain"],
                ["--prometheus"], ["--prometheus", "--explain"], ["--annotate", "-F", "-"]]
# The metrics' one sample that is not the dump's: the time of the run.
RUN_TIME_SAMPLE = re.compile(rb"^rbar_survey_run_timestamp_seconds (\d+)$", re.MULTILINE)


def without_run_time(output, started, ended):
    """The output with the run time's value taken out, once checked to lie within the run."""
    for stamp in RUN_TIME_SAMPLE.findall(output):
        if not started <= int(stamp) <= ended:
            raise Failure("run time %s outside the run (%d to %d)" % (stamp, started, ended))
    return RUN_TIME_SAMPLE.sub(b"rbar_survey_run_timestamp_seconds TIME", output)


def test_arm64(tool, arm64_tool, runner, dump):
    if not arm64_tool:
        print("no arm64 tool: needs the arm64 packages and qemu-user (scripts/ensure-deps.sh)")
        return SKIP
    directory, file = os.path.split(os.path.abspath(dump))
    failed = []
    for options in ARM64_MODES:
        arguments = options if options[-1:] == ["-"] else options + ["-F", file]
        results = []
        for command in ([tool], runner.split() + [arm64_tool]):
            started = int(time.time())
            with open(dump, "rb") as source:
                done = subprocess.run(command + arguments, cwd=directory, stdin=source,
                                      capture_output=True, check=False)
            output = without_run_time(done.stdout, started, int(time.time()) + 1)
            results.append((done.returncode, output, done.stderr))
        if results[0] != results[1]:
            failed.append("%s: amd64 %r, arm64 %r" % (" ".join(arguments), results[0], results[1]))
    if failed:
        raise Failure("the arm64 tool differs:\n" + "\n".join(failed))
    print("%s: the arm64 tool's output equals this machine's in %d modes"
          % (file, len(ARM64_MODES)))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the rbar-survey executable")
    parser.add_argument("--arm64-tool", default="", help="the arm64 build of rbar-survey")
    parser.add_argument("--runner", default="qemu-aarch64", help="what runs the arm64 tool")
    parser.add_argument("test", choices=["report", "lspci", "windows", "json", "errors", "merge", "report-file",
                                         "spellings",
                                         "machine", "machine-unprivileged", "arm64"])
    parser.add_argument("path", nargs="?",
                        help="dump file (report, lspci) or directory (merge, spellings)")
    arguments = parser.parse_args()
    tool = os.path.abspath(arguments.tool)
    tests = {
        "report": lambda: test_report(tool, arguments.path),
        "lspci": lambda: test_lspci(tool, arguments.path),
        "windows": lambda: test_windows(tool, arguments.path),
        "json": lambda: test_json(tool, arguments.path),
        "errors": lambda: test_errors(tool),
        "merge": lambda: test_merge(tool, arguments.path),
        "report-file": lambda: test_report_file(tool, arguments.path),
        "spellings": lambda: test_spellings(tool, arguments.path),
        "machine": lambda: test_machine(tool),
        "machine-unprivileged": lambda: test_machine_unprivileged(tool),
        "arm64": lambda: test_arm64(tool, arguments.arm64_tool, arguments.runner, arguments.path),
    }
    try:
        return tests[arguments.test]() or 0
    except Failure as fault:
        print("FAIL: %s" % fault)
        return 1


if __name__ == "__main__":
    sys.exit(main())
