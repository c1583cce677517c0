#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: corpus/format, corpus/scan and corpus/dump.

format seeds: the driver's two report formats as the console renders them, every conversion
with its flags, width and precision, line ends, edge buffer sizes, refused calls and caller
flags that must change nothing (input layout in FormatFuzzInput.h).
scan seeds: the dump fixtures of tests/dumps in the scan target's input (layout in
ScanFuzzInput.h), then the templates under every edge topology and fault.
dump seeds: every dump fixture (tests/dumps, tests/tool) as it is; the forms `lspci -F` prints
of them (decoded lines, -D, -s, -x, -xxx, CR LF), made with lspci, which must be installed; and
small damaged dumps, one per fault the parser names.

Run it from anywhere; it replaces the corpus files it writes and leaves others alone.
"""
import pathlib
import re
import struct
import subprocess

HERE = pathlib.Path(__file__).resolve().parent
DUMPS = HERE.parent / "dumps"

# --- format target -------------------------------------------------------------------------

WIDE_OUTPUT, WIDE_FORMAT, COUNT_ONLY = 0x01, 0x02, 0x04
NULL_BUFFER, NULL_FORMAT, NULL_ARGUMENTS, FORMAT_TOO_LONG = 0x08, 0x10, 0x20, 0x40
# Edge buffer sizes by index (FormatFuzzInput.cpp): 0 -> 0, 1 -> 1, 11 -> 1000000,
# 12 -> 1000001, 14 -> 2^64 - 1.
EDGE = 0xF000
BIT63 = 1 << 63


def integer(value):
    return (0, value & (2**64 - 1))


def text(value, repeats=1):
    """A string record: up to 8 bytes of characters, repeated; selector 0 is a null pointer."""
    raw = value.encode("latin-1") if isinstance(value, str) else value
    return (repeats, int.from_bytes(raw.ljust(8, b"\0")[:8], "little"))


def wide_text(value, repeats=1):
    raw = value.encode("utf-16-le")
    return (repeats, int.from_bytes(raw.ljust(8, b"\0")[:8], "little"))


NULL = (0, 0)


def format_seed(fmt, records=(), size=128, options=0, junk=0):
    wide = options & WIDE_FORMAT
    body = fmt.encode("utf-16-le") if wide else fmt.encode("latin-1")
    data = bytes([options, junk]) + struct.pack("<H", size) + bytes([len(records)])
    for selector, value in records:
        data += bytes([selector]) + struct.pack("<Q", value)
    return data + body


WIDE_BOTH = WIDE_OUTPUT | WIDE_FORMAT
FORMAT_SEEDS = {
    # The console's own calls: wide format into a 321-character wide buffer.
    "report-sizes": format_seed("RBarSizes %lu\n", [integer(16128)], 321, WIDE_BOTH),
    "report-bar": format_seed("BAR %u RBAR CURRENT %u RBAR MAX %u RBAR NEW %u\n",
                              [integer(0), integer(8), integer(13), integer(13)], 321, WIDE_BOTH),
    "report-cut": format_seed("RBarSizes %lu\n", [integer(65472)], 12, WIDE_BOTH),
    "integers-signed": format_seed("%d|%5d|%-5d|%05d|%+d|% d|%.3d|%.0d|%+.0d",
                                   [integer(-42), integer(7), integer(2**31), integer(0)]),
    "integers-unsigned": format_seed("%u %lu %+u % u", [integer(-1), integer(-1), integer(42)]),
    "integers-hex": format_seed("%x %X %8x %8X %lx %+x %5.3x %+05x %0-5x",
                                [integer(255), integer(-1), integer(3), integer(1)]),
    "integers-pointer": format_seed("%p %10p %+p", [integer(0x1234), integer(0x12)]),
    "integers-commas": format_seed("%,d %,d %,010d %,.10d %-,12d %,x",
                                   [integer(1234567), integer(-1234567), integer(0x123456)]),
    "integers-long-min": format_seed("%ld %ld %lu", [integer(-2**63), integer(2**63 - 1)]),
    "star-width": format_seed("%*d|%.*d|%*.*d|%-*d", [integer(6), integer(42), integer(4)]),
    "star-huge-width": format_seed("%*d", [integer(2**32 + 3), integer(1)], 300),
    "width-wraps": format_seed("%18446744073709551617d|%.5.2d|%5-d", [integer(3)]),
    "unrecognised": format_seed("%% %k %hd %5% %.0% %i %o"),
    "line-ends": format_seed("a\n\nb\r\rc\r\n\rd\n\re%5\nf%\r"),
    "ends-in-directive": format_seed("abc%5"),
    "ends-in-percent": format_seed("abc%"),
    "strings-narrow": format_seed("%a|%.3a|%.5a|%-10.5a|%10a|%.0a|%.a", [text("abcdef"),
                                                                         text("ab")]),
    "strings-wide": format_seed("%s|%S|%.3s|%-.5s|%010s", [wide_text("ab\u263a"),
                                                           wide_text("abc")], 128, WIDE_OUTPUT),
    "strings-null": format_seed("%s%s%a|%20s", [wide_text("ab"), NULL]),
    "strings-long": format_seed("%s|%a", [wide_text("abcd", 200), text("01234567", 200)], 1000),
    "strings-empty": format_seed("%.3S|%s", [wide_text(""), wide_text("")]),
    "characters": format_seed("%c%c%c|%.0c|%.3c|%5c", [integer(0x41), integer(0x7FFF0042),
                                                       integer(0), integer(0x263A)]),
    "guids": format_seed("%g|%.8g|%040g|%g", [(1, 0x0C000B0000000A), (0x55, 2**64 - 1), NULL]),
    "times": format_seed("%t|%t|%25t|%t", [(1, 0x050416070C07EA07), (0xFF, 2**64 - 1), NULL]),
    "statuses": format_seed("%r|%r|%r|%r|%r|%r|%r|%r|%r",
                            [integer(0), integer(5), integer(6), integer(BIT63),
                             integer(BIT63 + 1), integer(BIT63 + 29), integer(BIT63 + 33),
                             integer(BIT63 + 34), integer(2**32 + 7)]),
    "statuses-fields": format_seed("%.4r|%20r|%.20r|%lr|%,r|%+r",
                                   [integer(BIT63 + 2), integer(BIT63 + 2), integer(0)]),
    "wide-format-chars": format_seed("\u263a%c\u0141%s", [integer(0x1234), wide_text("\u2603")],
                                     64, WIDE_FORMAT),
    "wide-both-chars": format_seed("\u263a%c\u0141%s", [integer(0x1234), wide_text("\u2603")],
                                   64, WIDE_BOTH),
    "size-one": format_seed("abcdef%d", [integer(1)], EDGE | 1),
    "size-four": format_seed("abcdef", [], 4, WIDE_OUTPUT),
    "size-scratch": format_seed("%g%t", [(1, 0x1122334455667788), (1, 0x0102030405060708)],
                                EDGE | 6),
    "size-largest": format_seed("%*d", [integer(999990), integer(5)], EDGE | 11, WIDE_OUTPUT),
    "size-refused": format_seed("abc", [], EDGE | 12),
    "size-above-32-bits": format_seed("abc", [], EDGE | 13),
    "size-zero": format_seed("abc", [], EDGE | 0),
    "count-only": format_seed("abc%5d|%s", [integer(42), wide_text("xyz")], 0, COUNT_ONLY),
    "count-only-null-buffer": format_seed("%3s|%2.5d", [wide_text("hello"), integer(7)], 16,
                                          COUNT_ONLY | NULL_BUFFER),
    "count-only-huge": format_seed("%*d%*s", [integer(2**64 - 1), integer(1), integer(2**63),
                                              wide_text("a")], 64, COUNT_ONLY | WIDE_FORMAT),
    "null-buffer": format_seed("abc", [], 16, NULL_BUFFER),
    "null-format": format_seed("", [], 16, NULL_FORMAT),
    "null-arguments": format_seed("%d%s%g%t%*d", [], 64, NULL_ARGUMENTS),
    "format-too-long": format_seed("abc", [], EDGE | 15, FORMAT_TOO_LONG | WIDE_FORMAT),
    "junk-flags": format_seed("%d %s %x", [integer(-5), wide_text("q"), integer(255)], 32,
                              WIDE_OUTPUT, 0xFF),
}

# --- scan target ---------------------------------------------------------------------------

SIZE_CODES = {64: 0, 256: 1, 4096: 2}
TEMPLATE_ZEROS, TEMPLATE_EXPRESS, TEMPLATE_REBAR, TEMPLATE_CHAIN = range(4)
# Topologies from 0xF0 (ScanFuzzInput.h).
FULL_BUS_RANGE, BUS_ABOVE_8_BITS, BUS_16_BITS, BUS_ABOVE_16_BITS, NO_BUS_DESCRIPTOR, \
    TWO_BUS_DESCRIPTORS, RANGE_MINIMUM_UNUSED, NULL_DESCRIPTORS, CONFIGURATION_FAILS, \
    FOREIGN_HANDLE_FIRST, TWO_BRIDGES = range(0xF0, 0xFB)
READ_ERROR, READ_WARNING, ALLOCATION_ERROR = 1, 2, 3
OUTPUT_ERROR, OUTPUT_WARNING, NO_CONSOLE = 1 << 2, 2 << 2, 3 << 2
# Zero runs shorter than this stay inside a patch instead of starting a new one.
PATCH_GAP = 4
MAX_PATCH = 255
SEED_LIMIT = 4096


def patches_of(data):
    """Patches that turn a zero-filled function into data: runs of non-zero bytes."""
    patches, index = [], 0
    while index < len(data):
        if data[index] == 0:
            index += 1
            continue
        start = end = index
        while end < len(data) and end - start < MAX_PATCH:
            if data[end] != 0:
                end += 1
                continue
            gap = end
            while gap < len(data) and data[gap] == 0 and gap - end < PATCH_GAP:
                gap += 1
            if gap - end >= PATCH_GAP or gap == len(data) or gap - start > MAX_PATCH:
                break
            end = gap
        patches.append((start, data[start:end]))
        index = end
    return patches


def function_record(bus, device, function, size, template=TEMPLATE_ZEROS, patches=()):
    record = bytes([bus, (device << 3) | function, SIZE_CODES[size] | (template << 2),
                    len(patches)])
    for offset, data in patches:
        record += struct.pack("<HB", offset, len(data)) + bytes(data)
    return record


def scan_seed(topology, records, faults=0, occurrence=0):
    return bytes([topology, faults]) + struct.pack("<H", occurrence) + b"".join(records)


def load_dump(path):
    """The functions of an lspci -xxxx dump: (bus, device, function, bytes)."""
    functions = []
    for block in path.read_text().split("\n\n"):
        lines = [line for line in block.splitlines() if line.strip()]
        if not lines:
            continue
        match = re.match(r"(?:[0-9a-f]{4}:)?([0-9a-f]{2}):([0-9a-f]{2})\.([0-7])", lines[0])
        data = bytearray()
        for line in lines[1:]:
            data += bytes(int(byte, 16) for byte in line.split(":", 1)[1].split())
        functions.append((int(match[1], 16), int(match[2], 16), int(match[3]), bytes(data)))
    return functions


def dump_seeds():
    """One seed per dump, split where a dump has more than two buses or outgrows a seed; buses
    are renumbered from 0 so that they fall in the plain topology's range."""
    seeds = {}
    for path in sorted(DUMPS.glob("*.dump")):
        groups, current, buses = [], [], []
        for bus, device, function, data in load_dump(path):
            record = (bus, device, function, data)
            size = sum(len(function_record(0, 0, 0, len(d), 0, patches_of(d)))
                       for _, _, _, d in current + [record])
            if current and (bus not in buses and len(buses) == 2 or size > SEED_LIMIT - 4):
                groups.append(current)
                current, buses = [], []
            if bus not in buses:
                buses.append(bus)
            current.append(record)
        groups.append(current)
        for index, group in enumerate(groups):
            order = sorted({bus for bus, _, _, _ in group})
            records = [function_record(order.index(bus), device, function, len(data),
                                       TEMPLATE_ZEROS, patches_of(data))
                       for bus, device, function, data in group]
            name = "dump-" + path.stem + (f"-{index + 1}" if len(groups) > 1 else "")
            seeds[name] = scan_seed(len(order) - 1, records)
    return seeds


def template_seeds():
    express = function_record(0, 1, 0, 4096, TEMPLATE_EXPRESS)
    rebar = function_record(0, 2, 0, 4096, TEMPLATE_REBAR)
    chain = function_record(1, 3, 0, 4096, TEMPLATE_CHAIN)
    multi = function_record(0, 4, 0, 4096, TEMPLATE_REBAR, [(0x0E, b"\x80")])
    multi_fn = function_record(0, 4, 5, 256, TEMPLATE_EXPRESS)
    small = function_record(0, 5, 0, 64, TEMPLATE_REBAR)
    all_kinds = [express, rebar, chain, multi, multi_fn, small]
    seeds = {
        "templates-all": scan_seed(0x05, all_kinds),
        "templates-zeros": scan_seed(0x00, [function_record(0, 0, 0, 256)]),
        # The capability list loops; the extended chain points at itself.
        "loops": scan_seed(0x00, [function_record(0, 0, 0, 4096, TEMPLATE_REBAR,
                                                  [(0x41, b"\x40"), (0x100, b"\x01\x00\x01\x10")])]),
        "beyond-bus-range": scan_seed(0x00, [function_record(3, 0, 0, 4096, TEMPLATE_REBAR)]),
        "read-error": scan_seed(0x01, all_kinds, READ_ERROR, 520),
        "read-warning": scan_seed(0x01, all_kinds, READ_WARNING, 530),
        "allocation-error": scan_seed(0x01, all_kinds, ALLOCATION_ERROR, 1),
        "output-error": scan_seed(0x01, all_kinds, OUTPUT_ERROR, 0),
        "output-warning": scan_seed(0x01, all_kinds, OUTPUT_WARNING, 2),
        "no-console": scan_seed(0x01, all_kinds, NO_CONSOLE),
    }
    for name, topology in [("full-bus-range", FULL_BUS_RANGE),
                           ("bus-above-8-bits", BUS_ABOVE_8_BITS),
                           ("bus-above-16-bits", BUS_ABOVE_16_BITS),
                           ("no-bus-descriptor", NO_BUS_DESCRIPTOR),
                           ("two-bus-descriptors", TWO_BUS_DESCRIPTORS),
                           ("range-minimum-unused", RANGE_MINIMUM_UNUSED),
                           ("null-descriptors", NULL_DESCRIPTORS),
                           ("configuration-fails", CONFIGURATION_FAILS),
                           ("foreign-handle-first", FOREIGN_HANDLE_FIRST),
                           ("two-bridges", TWO_BRIDGES)]:
        seeds["topology-" + name] = scan_seed(topology, [rebar, chain])
    return seeds


# --- dump target ---------------------------------------------------------------------------

TOOL_DUMPS = HERE.parent / "tool"
# lspci options of the forms, named for seed file names.
DUMP_FORMS = {
    "vvv-xxxx": ["-vvv", "-xxxx"],
    "v-x": ["-v", "-x"],
    "vv-xxx": ["-vv", "-xxx"],
    "k-xxxx": ["-k", "-xxxx"],
    "nn-xxxx": ["-nn", "-xxxx"],
    "D-xxxx": ["-D", "-xxxx"],
    "s-xxxx": ["-s", "00:00.0", "-xxxx"],
    "all-xxxx": ["-vvv", "-k", "-nn", "-D", "-xxxx"],
}
# The small fixture every form and every fault is made of as well.
SMALL_DUMP = TOOL_DUMPS / "header-only.dump"


def lspci_form(path, options):
    return subprocess.run(["lspci", "-F", str(path)] + options, capture_output=True, text=True,
                          check=True).stdout


def crlf(text):
    return text.replace("\n", "\r\n")


def damaged_seeds(form):
    """One dump per fault, each made from the -vvv -x form of the small fixture."""
    lines = form.splitlines()
    hex_at = [index for index, line in enumerate(lines) if re.match(r"[0-9a-f]{2,3}: ", line)]
    first_end = lines.index("")

    def replaced(index, line):
        return "\n".join(lines[:index] + [line] + lines[index + 1:]) + "\n"

    second = hex_at[1]
    return {
        "damaged-bad-byte": replaced(second, lines[second][:-2] + "zz"),
        "damaged-short-line": replaced(second, lines[second][:-3]),
        "damaged-long-line": replaced(second, lines[second] + " 00"),
        "damaged-offset-order": replaced(second, "20" + lines[second][2:]),
        "damaged-listed-twice": "\n".join(lines + lines[:first_end + 1]) + "\n",
        "damaged-decoded-among-hex": replaced(second, "\t" + lines[second]),
        "damaged-tabs-as-spaces": "\n".join(
            re.sub(r"^\t+", "        ", line) for line in lines) + "\n",
        "damaged-no-hex-lines": "\n".join(
            line for line in lines if not re.match(r"[0-9a-f]{2,3}: ", line)) + "\n",
        "damaged-cut-short": "\n".join(lines[:hex_at[2] + 1]) + "\n",
        "damaged-domain-too-wide": "10000:" + form,
    }


def dump_text_seeds():
    fixtures = sorted(DUMPS.glob("*.dump")) + sorted(TOOL_DUMPS.glob("*.dump"))
    seeds = {"fixture-" + path.stem: path.read_text() for path in fixtures}
    # One form of each tool fixture, in turn, every other one with CR LF line ends.
    names = list(DUMP_FORMS)
    for index, path in enumerate(sorted(TOOL_DUMPS.glob("*.dump"))):
        name = names[index % len(names)]
        form = lspci_form(path, DUMP_FORMS[name])
        if index % 2:
            seeds["form-%s-%s-crlf" % (path.stem, name)] = crlf(form)
        else:
            seeds["form-%s-%s" % (path.stem, name)] = form
    for name, options in DUMP_FORMS.items():
        form = lspci_form(SMALL_DUMP, options)
        seeds["form-small-" + name] = form
        seeds["form-small-%s-crlf" % name] = crlf(form)
    seeds.update(damaged_seeds(lspci_form(SMALL_DUMP, ["-vvv", "-x"])))
    return {name: text.encode("ascii") for name, text in seeds.items()}


def write(directory, seeds):
    directory.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (directory / name).write_bytes(data)
    largest = max(len(data) for data in seeds.values())
    print(f"{directory}: {len(seeds)} seeds, largest {largest} bytes")


def main():
    write(HERE / "corpus" / "format", FORMAT_SEEDS)
    write(HERE / "corpus" / "scan", {**dump_seeds(), **template_seeds()})
    write(HERE / "corpus" / "dump", dump_text_seeds())


if __name__ == "__main__":
    main()
