#!/usr/bin/env python3
"""Tests of rbar-survey on every form of dump that `lspci -F` reads, run by CTest. Exit 0
passes, 1 fails, 77 skips (lspci is missing).

  same DUMP     lspci prints DUMP again in each form below, with LF and with CR LF line ends;
                the tool's report, annotated report, standard error and status for each form
                equal those for the plain dump, cut to the bytes the form holds (64 for -x,
                256 for -xxx) and to the function chosen with -s. One form also goes through
                standard input ("-F -"). Some forms also come with their tabs turned into
                spaces by `expand`, as dumps copied from web pages do; lspci -F must read
                each of those as it reads the form itself, and so must the tool.
  damage DUMP   faults put into the -vvv -xxxx form, as lspci prints it and with its tabs
                turned into spaces (a bad hex byte, a short or long hex line, an offset out of
                order, a function listed twice) are named with the file (or <stdin>) and the
                right line, with exit status 2.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
EXIT_USAGE = 2
STDIN_NAME = "<stdin>"
HEADER_BYTES, CONVENTIONAL_BYTES = 64, 256
HEX_LINE = re.compile(r"^[0-9a-f]{2,3}: ")
HEADER_LINE = re.compile(r"^(?:[0-9a-f]{4,8}:)?[0-9a-f]{2}:[0-9a-f]{2}\.[0-7](?: |$)")

# lspci options of each form, and how many bytes of each function it prints (None: all).
# "-s" is followed by the address of a function the tool reports on.
FORMS = [
    (["-vvv", "-xxxx"], None),
    (["-vv", "-xxxx"], None),
    (["-v", "-x"], HEADER_BYTES),
    (["-vv", "-xxx"], CONVENTIONAL_BYTES),
    (["-k", "-xxxx"], None),
    (["-nn", "-xxxx"], None),
    (["-D", "-xxxx"], None),
    (["-vvv", "-k", "-nn", "-D", "-xxxx"], None),
    (["-x"], HEADER_BYTES),
    (["-xxx"], CONVENTIONAL_BYTES),
    (["-s", None, "-xxxx"], None),
    (["-s", None, "-vvv", "-xxx"], CONVENTIONAL_BYTES),
]
# Forms whose tabs `expand` turns into spaces, with its tab stops (as copies from web pages come).
SPACED_FORMS = [
    (["-vvv", "-xxxx"], None, 8),
    (["-v", "-x"], HEADER_BYTES, 4),
    (["-vvv", "-k", "-nn", "-D", "-xxxx"], None, 2),
    (["-s", None, "-vvv", "-xxx"], CONVENTIONAL_BYTES, 8),
]


class Failure(Exception):
    pass


def run(arguments, cwd=None, stdin_text=None):
    """Runs a command; returns (status, stdout, stderr) as text."""
    done = subprocess.run(arguments, cwd=cwd, capture_output=True, text=True, check=False,
                          input=stdin_text if stdin_text is not None else "")
    return done.returncode, done.stdout, done.stderr


def lspci(dump, options):
    """What `lspci -F DUMP OPTIONS` prints."""
    status, out, err = run(["lspci", "-F", dump] + options)
    if status != 0:
        raise Failure("lspci %s failed: %s" % (" ".join(options), err))
    return out


def expanded(text, tab_stops):
    """text with its tabs turned into spaces by `expand`."""
    done = subprocess.run(["expand", "-t", str(tab_stops)], input=text, capture_output=True,
                          text=True, check=True)
    return done.stdout


def check_lspci_reads(directory, form, spaced):
    """lspci -F reads the spaced form as it reads the form: the same bytes of every function."""
    write(directory, "tabs.dump", form)
    write(directory, "spaces.dump", spaced)
    if lspci(os.path.join(directory, "spaces.dump"), ["-xxxx"]) != \
            lspci(os.path.join(directory, "tabs.dump"), ["-xxxx"]):
        raise Failure("lspci -F reads the form with spaces differently")


def functions_of(text):
    """The plain dump's functions: (address, header line, [hex lines])."""
    functions = []
    for line in text.splitlines():
        if HEADER_LINE.match(line):
            functions.append((line.split()[0], line, []))
        elif HEX_LINE.match(line):
            functions[-1][2].append(line)
    return functions


def without_domain(address):
    """"BB:DD.F" of "[DDDD:]BB:DD.F"."""
    return address[-len("BB:DD.F"):]


def reference(text, limit, address):
    """The plain dump cut to limit bytes a function and to the function at address (lspci
    prints the domain only with -D, so the address is matched without it)."""
    kept = []
    for name, header, lines in functions_of(text):
        if address is not None and without_domain(name) != without_domain(address):
            continue
        count = len(lines) if limit is None else min(len(lines), limit // 16)
        kept.append("\n".join([header] + lines[:count]) + "\n")
    return "\n".join(kept)


def outcome(tool, directory, name, stdin_text=None):
    """Status, report, annotated report and standard error of the tool on directory/name, or
    on stdin_text through "-F -" (with <stdin> named as name in messages)."""
    results = []
    for options in ([], ["--annotate"]):
        if stdin_text is None:
            status, out, err = run([tool, "-F", name] + options, cwd=directory)
        else:
            status, out, err = run([tool, "-F", "-"] + options, cwd=directory,
                                   stdin_text=stdin_text)
            err = err.replace(STDIN_NAME, name)
        results.append((status, out, err))
    return results


def write(directory, name, text, line_end="\n"):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "w", encoding="ascii", newline="") as file:
        file.write(text.replace("\n", line_end))


def chosen_function(tool, dump):
    """The address of the first function the tool reports on, else of the first function."""
    _, annotated, _ = run([tool, "--annotate", "-F", dump])
    for line in annotated.splitlines():
        if HEADER_LINE.match(line):
            return line.split()[0]
    with open(dump, encoding="ascii") as file:
        return functions_of(file.read())[0][0]


def test_same(tool, dump):
    name = os.path.basename(dump)
    with open(dump, encoding="ascii") as file:
        plain = file.read()
    address = chosen_function(tool, dump)
    checked = []
    with tempfile.TemporaryDirectory() as scratch:
        forms = [(options, limit, None) for options, limit in FORMS] + SPACED_FORMS
        for index, (options, limit, tab_stops) in enumerate(forms):
            options = [address if option is None else option for option in options]
            chosen = address if "-s" in options else None
            write(os.path.join(scratch, "ref%d" % index), name, reference(plain, limit, chosen))
            expected = outcome(tool, os.path.join(scratch, "ref%d" % index), name)
            if expected[0][0] != 0:
                raise Failure("the plain dump cut for %s is refused: %s"
                              % (" ".join(options), expected[0][2]))
            form = lspci(dump, options)
            if tab_stops is not None:
                spaced = expanded(form, tab_stops)
                check_lspci_reads(scratch, form, spaced)
                form = spaced
                options = options + ["| expand -t %d" % tab_stops]
            for line_end, label in (("\n", "LF"), ("\r\n", "CR LF")):
                directory = os.path.join(scratch, "form%d-%s" % (index, len(line_end)))
                write(directory, name, form, line_end)
                if outcome(tool, directory, name) != expected:
                    raise Failure("lspci %s (%s): the report differs from the plain dump's"
                                  % (" ".join(options), label))
                checked.append("%s, %s" % (" ".join(options), label))
            if index == 0:
                if outcome(tool, scratch, name, form.replace("\n", "\r\n")) != expected:
                    raise Failure("lspci %s through standard input: the report differs"
                                  % " ".join(options))
                checked.append("%s, CR LF, standard input" % " ".join(options))
    for form in checked:
        print("%s: lspci %s: same report, annotated report, standard error and status"
              % (name, form))
    return 0


def damaged(lines, fault):
    """lines with one fault put in: returns (lines, number of the line to be named, message)."""
    hex_at = [index for index, line in enumerate(lines) if HEX_LINE.match(line)]
    second = hex_at[1]
    if fault == "bad byte":
        lines[second] = lines[second][:-2] + "zz"
        return lines, second + 1, "byte 15 is not a space and two hex digits"
    if fault == "short line":
        lines[second] = lines[second][:-3]
        return lines, second + 1, "a hex line holds 16 bytes, each a space and two hex digits"
    if fault == "long line":
        lines[second] += " 00"
        return lines, second + 1, "a hex line holds 16 bytes, each a space and two hex digits"
    if fault == "offset out of order":
        lines[second] = "20" + lines[second][2:]
        return lines, second + 1, "offset 20 where 10 was expected"
    # A function listed twice: the first function again at the end.
    end = lines.index("")
    first = lines[:end]
    # The parser names domain 0 without its digits, as lspci does without -D.
    address = re.sub(r"^0000:", "", first[0].split()[0])
    return lines + first + [""], len(lines) + 1, \
        "function %s already listed at line 1" % address


def test_damage(tool, dump):
    form = lspci(dump, ["-vvv", "-xxxx"])
    failed = []
    count = 0
    with tempfile.TemporaryDirectory() as directory:
        for fault, text in [(fault, text) for text in (form, expanded(form, 8))
                            for fault in ("bad byte", "short line", "long line",
                                          "offset out of order", "twice")]:
            lines, number, message = damaged(text.splitlines(), fault)
            text = "\n".join(lines) + "\n"
            write(directory, "bad.dump", text, "\r\n")
            runs = [("bad.dump", run([tool, "-F", "bad.dump"], cwd=directory)),
                    (STDIN_NAME, run([tool, "-F", "-"], cwd=directory, stdin_text=text))]
            for named, (status, out, err) in runs:
                expected = "rbar-survey: %s:%d: %s\n" % (named, number, message)
                count += 1
                if (status, out, err) != (EXIT_USAGE, "", expected):
                    failed.append("%s (%s): status %d, stdout %r, stderr %r, expected %r"
                                  % (fault, named, status, out, err, expected))
    if failed:
        raise Failure("\n".join(failed))
    print("%d faults in the -vvv -xxxx form, with tabs and with spaces, named with file and line"
          % count)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the rbar-survey executable")
    parser.add_argument("test", choices=["same", "damage"])
    parser.add_argument("dump", help="the plain dump the forms are made from")
    arguments = parser.parse_args()
    if shutil.which("lspci") is None:
        print("lspci is not installed")
        return SKIP
    tool = os.path.abspath(arguments.tool)
    dump = os.path.abspath(arguments.dump)
    try:
        if arguments.test == "same":
            return test_same(tool, dump)
        return test_damage(tool, dump)
    except Failure as fault:
        print("FAIL: %s: %s" % (os.path.basename(dump), fault))
        return 1


if __name__ == "__main__":
    sys.exit(main())
