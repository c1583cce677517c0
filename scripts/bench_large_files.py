"""Large dump files for make bench: rbar-survey's time and peak memory beside lspci's on the
same files, generated in a scratch directory at bench time (they are never kept).

  - headerless: 200 MB of hex lines with no function header, which both refuse at line 1;
  - well-formed: a 200 MB `lspci -xxxx` dump of about 15,000 functions, which both read whole.
"""

import os
import subprocess
import time

# Size of each generated file.
LARGE_FILE_BYTES = 200 * 1000 * 1000
# Bytes of a function in an `lspci -xxxx` dump, and on one of its hex lines.
EXTENDED_BYTES = 4096
BYTES_PER_LINE = 16
# Offsets below this are printed with two hex digits, the others with three.
THREE_DIGIT_OFFSET = 0x100
# Function 0 of every device of a bus, every bus of a domain.
DEVICES_PER_BUS = 32
BUSES_PER_DOMAIN = 256
# The function copied into the well-formed dump: a graphics card with a Resizable BAR.
SAMPLE_DUMP = os.path.join("tests", "tool", "override-navi10.dump")
SAMPLE_ADDRESS = "0a:00.0"

CASES = [
    ("headerless", "200 MB of hex lines, no function header (refused at line 1)"),
    ("well-formed", "200 MB `lspci -xxxx` dump, {functions:,} functions"),
]


def sample_bytes(source_dir):
    """The hex lines of the sample function, as they stand in its dump."""
    lines = []
    with open(os.path.join(source_dir, SAMPLE_DUMP), encoding="ascii") as dump:
        inside = False
        for line in dump:
            if line.startswith(SAMPLE_ADDRESS + " "):
                inside = True
            elif inside and not line.strip():
                break
            elif inside:
                lines.append(line)
    if len(lines) != EXTENDED_BYTES // BYTES_PER_LINE:
        raise RuntimeError(f"{SAMPLE_DUMP}: {SAMPLE_ADDRESS} is not a whole -xxxx function")
    return "".join(lines)


def write_headerless(path):
    """Hex lines with no header, offsets 00 to f0 over and over, up to the file's size."""
    block = "".join("%02x:%s\n" % (offset, " 00" * BYTES_PER_LINE)
                    for offset in range(0, THREE_DIGIT_OFFSET, BYTES_PER_LINE))
    with open(path, "w", encoding="ascii") as file:
        for _ in range(LARGE_FILE_BYTES // len(block)):
            file.write(block)


def write_well_formed(path, source_dir):
    """The sample function at function 0 of one device after another until the file holds the
    size; returns the number of functions."""
    body = sample_bytes(source_dir)
    count = 0
    written = 0
    with open(path, "w", encoding="ascii") as file:
        while written < LARGE_FILE_BYTES:
            domain, rest = divmod(count, DEVICES_PER_BUS * BUSES_PER_DOMAIN)
            bus, device = divmod(rest, DEVICES_PER_BUS)
            function = "%04x:%02x:%02x.0 VGA compatible controller: sample\n%s\n" % (
                domain, bus, device, body)
            file.write(function)
            written += len(function)
            count += 1
    return count


def measure(command):
    """(seconds, peak resident kilobytes, exit status) of one run; output is discarded."""
    with open(os.devnull, "wb") as sink:
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=sink, stderr=sink)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return elapsed, usage.ru_maxrss, process.returncode


def large_file_rows(tool, source_dir, scratch):
    """One row per case: (description, ours, lspci's), each (seconds, peak KB, status)."""
    headerless = os.path.join(scratch, "headerless.dump")
    well_formed = os.path.join(scratch, "well-formed.dump")
    write_headerless(headerless)
    functions = write_well_formed(well_formed, source_dir)
    rows = []
    for (name, description), path in zip(CASES, (headerless, well_formed)):
        ours = measure([tool, "-F", path])
        theirs = measure(["lspci", "-F", path])
        rows.append((description.format(functions=functions), ours, theirs))
    for path in (headerless, well_formed):
        os.remove(path)
    return rows


def large_file_table(rows):
    """The Markdown table of the rows, with whether each case meets twice lspci's figures."""
    lines = [
        "| File | rbar-survey | lspci | Within twice lspci's |",
        "|---|---:|---:|---|",
    ]
    for description, ours, theirs in rows:
        within = ours[0] <= 2 * theirs[0] and ours[1] <= 2 * theirs[1]
        lines.append(f"| {description} | {ours[0]:.2f} s, {ours[1] / 1024:.1f} MB (exit {ours[2]}) "
                     f"| {theirs[0]:.2f} s, {theirs[1] / 1024:.1f} MB (exit {theirs[2]}) "
                     f"| {'yes' if within else '**no**'} |")
    return lines
