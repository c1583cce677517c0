"""The USB stick run of run-firmware.py: the stick image booted as the firmware's first boot
option, as a USB drive, with no shell starting it.

Two QEMU runs of the same machine, the stick and a FAT drive attached, share one variable store.
On a fresh store the firmware makes a boot option for each drive, the stick's first, and starts
\\EFI\\BOOT\\BOOT*.EFI from it by itself. In the first run the key is pressed at its wait line;
the firmware goes on to the shell, whose startup.nsh adds each --driver-option image as a driver
load option, leaves done.txt on the FAT drive and powers off. In the second run the firmware
loads the driver options, then starts the stick again, now behind the fixture bridges; the key
is pressed USB_KEY_DELAY seconds after the wait line shows; once the image returns, the firmware
goes on to its next boot options, at last the shell, whose startup.nsh finds done.txt and powers
off. (QEMU's bootindex on the stick does not help: OVMF then made no boot option for it.)

Checked: the report between the boot manager's start line and the count line (exact lines, with
--expect-annotated: rbar-survey --annotate's output for each dump, its domain set to the fixture
bridge's segment), the count, the wait line, that the image returned only after the key, with
Aborted, and that the firmware went on.

The report file: each run saves one on the stick, RBAR0001.TXT in the first run and RBAR0002.TXT
in the second, named on the line after the count line. Read back from the stick image with
mtools, the second must hold, in CR LF lines, "@rbar-survey-report 1", the screen's lines from
its facts block through the summary each behind "# ", a dump that lspci -F reads with every
function of the report, and "@end" last; rbar-survey --explain -F must give the screen's
verdict lines for it. With --stick-state read-only (QEMU's readonly=on) or full (the stick's free space
filled up, its \rbar-survey\ folder already there), one run only (--single-run, no fixture): the
screen says why nothing was saved, the wait and the boot go on, and the stick holds no file
with "@end" (read-only: the stick image is unchanged to the byte).
"""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile

# The stick's own files are never changed: the test boots the image as it is built.
USB_KEY_DELAY = 2.0
WAIT_LINE = "Press any key to continue booting."
# Rows of the firmware console's text mode (80 x 25 on the serial console): a longer report
# must pause in wait mode.
SCREEN_ROWS = 25
FIRST_BOOT = "run-firmware: first boot"
SECOND_BOOT = "run-firmware: second boot"
DONE_FILE = "done.txt"
# The boot manager's lines around the stick's boot option (OVMF and AAVMF name it after the
# drive: "UEFI QEMU QEMU USB HARDDRIVE ...").
STICK_STARTED = re.compile(r'BdsDxe: starting (Boot[0-9A-F]{4}) "([^"]*USB[^"]*)" from .*?\r\n')
STICK_RETURNED = r'BdsDxe: failed to start {option} "[^"]*" from .*?: (.*?)\r\n'
NEXT_OPTION = re.compile(r"BdsDxe: (?:loading|starting) Boot[0-9A-F]{4} ")
# The driver's BAR line, whose next line gives its sizes in words and is followed by its verdict.
BAR_LINE = re.compile(r"BAR \d+ RBAR CURRENT \d+ RBAR MAX \d+ RBAR NEW \d+$")
VERDICT_PREFIX = "  verdict: "
# A note below an RBarSizes line or a BAR line's sizes, and the line naming functions the
# driver skipped.
NOTE = re.compile(r"  BAR \d+: ")
NOT_SCANNED = re.compile(r"[0-9a-f]{4,}:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7](?:-[0-7])? not scanned: ")
# Where a verdict's words come to what only the firmware's apertures decide.
FIRMWARE_CLAUSES = (", where the host bridge's aperture decides", "in setup menus")
# Domain 0000 before a bus (and a device and function) in a verdict's words.
SEGMENT_ZERO = re.compile(r"\b0000:(?=[0-9a-f]{2}(?::[0-9a-f]{2}\.[0-7]|\b))")
# A fixture function header of rbar-survey --annotate: "DDDD:BB:DD.F vvvv:dddd".
HEADER = re.compile(r"^[0-9a-f]{4}(:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7] [0-9a-f]{4}:[0-9a-f]{4})$")


def add_arguments(parser):
    parser.add_argument("--usb-stick", metavar="IMAGE",
                        help="raw disk image booted as a USB drive, first in the boot order, "
                             "behind the --driver-option images; two runs")
    parser.add_argument("--expect-annotated", action="append", default=[],
                        metavar="SEGMENT:DUMP",
                        help="with --usb-stick or --boot-option: the expected report lines are "
                             "rbar-survey --annotate's for DUMP, in the fixture bridge of "
                             "SEGMENT; repeat, in order")
    parser.add_argument("--annotate-tool", metavar="FILE",
                        help="the rbar-survey program that --expect-annotated runs")
    parser.add_argument("--stick-state", choices=STICK_STATES, default="writable",
                        help="with --usb-stick: the stick as it is (saves RBAR0001.TXT and "
                             "RBAR0002.TXT), attached read-only, or with no free space left")
    parser.add_argument("--single-run", action="store_true",
                        help="with --usb-stick: the first run only, the stick alone")


def tool_lines(arguments, mode, dump, run_error):
    """What the rbar-survey program prints for dump in mode (--annotate, --explain), as lines."""
    result = subprocess.run([arguments.annotate_tool, mode, "--dump", dump],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            check=False)
    if result.returncode != 0:
        raise run_error(f"{arguments.annotate_tool} {mode} --dump {dump}: "
                        f"{result.stderr.strip()}")
    return result.stdout.splitlines()


class Prefix(str):
    """An expected line of which only the start is known: a verdict's words up to where the
    firmware's apertures come in, for a dump that gives rbar-survey no firmware facts."""


def firmware_free(line):
    """Line, or the Prefix of it that does not depend on the firmware's apertures."""
    for clause in FIRMWARE_CLAUSES:
        at = line.find(clause)
        if at >= 0:
            return Prefix(line[:at + len(clause)])
    return line


def has_facts(dump):
    """True when the dump holds firmware facts ("@" lines) for rbar-survey to read."""
    with open(dump, encoding="utf-8", errors="replace") as text:
        return any(line.startswith("@") for line in text)


def in_segment(line, segment):
    """Line with the function and bus addresses of domain 0000 moved to segment."""
    return SEGMENT_ZERO.sub(f"{int(segment):04x}:", line)


def expected_annotated(arguments, run_error):
    """The boot screen's report of each --expect-annotated dump: rbar-survey --annotate's lines
    with, after each BAR line's sizes, --explain's verdict line on it, in the order --explain
    gives them; addresses moved to the dump's segment. Without firmware facts in the dump, a
    verdict that the firmware's apertures decide is held to its words up to them."""
    lines = []
    for pair in arguments.expect_annotated:
        segment, dump = pair.split(":", 1)
        verdicts = [line for line in tool_lines(arguments, "--explain", dump, run_error)
                    if line.startswith(VERDICT_PREFIX)]
        facts = has_facts(dump)
        after_bar_line = False
        # A BAR line's verdict follows its sizes and the notes below them.
        verdict = None
        for line in tool_lines(arguments, "--annotate", dump, run_error):
            if verdict is not None and NOTE.match(line) is None:
                lines.append(verdict)
                verdict = None
            # The boot image does not probe the functions the driver skips.
            if NOT_SCANNED.match(line):
                continue
            header = HEADER.match(line)
            lines.append(f"{int(segment):04x}{header.group(1)}" if header else line)
            if after_bar_line:
                if not verdicts:
                    raise run_error(f"--explain gives fewer verdicts than BAR lines for {dump}")
                verdict = in_segment(verdicts.pop(0), segment)
                verdict = verdict if facts else firmware_free(verdict)
            after_bar_line = BAR_LINE.match(line) is not None
        if verdict is not None:
            lines.append(verdict)
        if verdicts:
            raise run_error(f"--explain gives more verdicts than BAR lines for {dump}")
    return lines


STICK_STATES = ("writable", "read-only", "full")
# Where the stick's FAT partition starts (make-usb-image.sh), for mtools.
PARTITION_OFFSET = 2048 * 512
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1")
# What the screen says of the save, by stick state.
SAVE_FAILURES = {"read-only": "the stick is write-protected", "full": "the stick is full"}
REPORT_FIRST_LINE = "@rbar-survey-report 1"
REPORT_LINE_MAX_CHARS = 200
REPORT_LAST_LINE = "@end"
# A function header of a dump, and what lspci -F -n lists of it.
DUMP_HEADER = re.compile(r"^([0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) [0-9a-f]{4}:[0-9a-f]{4}$")


def mtools(command, stick, *arguments):
    """Runs an mtools command on the stick's FAT partition; returns its standard output."""
    result = subprocess.run([command, "-i", f"{stick}@@{PARTITION_OFFSET}", *arguments],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=MTOOLS_ENV,
                            check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{command} {' '.join(arguments)}: "
                           f"{result.stderr.decode('utf-8', 'replace').strip()}")
    return result.stdout


def report_files(stick):
    """The report files on the stick: {name: bytes}."""
    try:
        listing = mtools("mdir", stick, "-b", "::/rbar-survey").decode("ascii", "replace")
    except RuntimeError:
        return {}
    files = {}
    for path in listing.split():
        name = path.rsplit("/", 1)[-1]
        files[name] = mtools("mtype", stick, f"::/rbar-survey/{name}")
    return files


def fill_stick(stick, directory):
    """Makes \\rbar-survey\\ on the stick, then a file that takes all its free space."""
    mtools("mmd", stick, "::/rbar-survey")
    free = int(re.search(rb"([0-9 ]+) bytes free", mtools("mdir", stick, "::/")).group(1)
               .replace(b" ", b""))
    filler = os.path.join(directory, "filler.bin")
    with open(filler, "wb") as out:
        out.truncate(free)
    mtools("mcopy", stick, filler, "::/FILLER.BIN")


def screen_lines(firmware, lines):
    """The report's lines as the boot image wrote them: the rows of a line too long for the
    console (or the file) joined again."""
    joined = []
    for line in lines:
        if line.startswith(firmware.CONTINUATION_INDENT) and joined:
            joined[-1] += " " + line[len(firmware.CONTINUATION_INDENT):]
        else:
            joined.append(line)
    return joined


def explains(arguments, content):
    """rbar-survey --explain -F on a report file's content."""
    with tempfile.NamedTemporaryFile(suffix=".TXT") as saved:
        saved.write(content)
        saved.flush()
        return subprocess.run([arguments.annotate_tool, "--explain", "-F", saved.name],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              check=False)


def check_report_file(arguments, firmware, content, screen):
    """Checks a saved report file against the screen's lines from the facts block through the
    summary table; returns its size in bytes."""
    screen = screen_lines(firmware, screen)
    if not content.endswith(b"\r\n") or b"\n" in content.replace(b"\r\n", b""):
        raise firmware.RunError("the report file's lines do not all end in CR LF")
    lines = content.decode("ascii").split("\r\n")[:-1]
    if lines[0] != REPORT_FIRST_LINE or lines[-1] != REPORT_LAST_LINE:
        raise firmware.RunError(f"the report file starts {lines[0]!r} and ends {lines[-1]!r}")
    kept = screen_lines(firmware, [line[2:] for line in lines if line.startswith("# ")])
    if max(len(line) for line in lines) > REPORT_LINE_MAX_CHARS:
        raise firmware.RunError(f"the report file has lines over {REPORT_LINE_MAX_CHARS} "
                                "characters, which lspci -F refuses")
    if kept != screen:
        firmware.check_report(kept, screen)
    headers = [DUMP_HEADER.match(line).group(1) for line in lines if DUMP_HEADER.match(line)]
    named = [header.group(0) for line in screen
             if (header := re.match(r"[0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\.[0-7](?= |$)", line))]
    missing = sorted(set(named) - set(headers))
    if missing:
        raise firmware.RunError(f"the report file's dump lacks {missing}")
    # rbar-survey explains the file with the boot screen's verdicts.
    explained = explains(arguments, content)
    if explained.returncode != 0:
        raise firmware.RunError(f"rbar-survey --explain -F refused the report file: "
                                f"{explained.stderr.strip()}")
    verdicts = [line for line in explained.stdout.splitlines() if line.startswith(VERDICT_PREFIX)]
    firmware.check_report(verdicts, [line for line in screen if line.startswith(VERDICT_PREFIX)])
    listed = subprocess.run(["lspci", "-F", "/dev/stdin", "-n", "-D"], input=content,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    found = [line.split()[0] for line in listed.stdout.decode("ascii", "replace").splitlines()]
    if listed.returncode != 0 or sorted(found) != sorted(set(headers)):
        raise firmware.RunError(f"lspci -F read {found} of the report file, not {headers}: "
                                f"{listed.stderr.decode('utf-8', 'replace').strip()}")
    return len(content)


# Marks the FAT drive: the shell may map the stick before it (AAVMF does).
DRIVE_MARK = "run-firmware.txt"
SHELL_DRIVES = ("fs0", "fs1")


def prepare_drive(directory, drivers):
    """The FAT directory: the drivers, and a startup.nsh (CR LF) that makes its own drive the
    current one, adds the drivers as driver options in the first run and powers off in both."""
    drive = os.path.join(directory, "drive")
    os.mkdir(drive)
    with open(os.path.join(drive, DRIVE_MARK), "w", encoding="ascii") as mark:
        mark.write("the FAT drive of a USB stick run\n")
    lines = []
    for name in SHELL_DRIVES:
        lines += [f"if exist {name}:\\{DRIVE_MARK} then", f"  {name}:", "endif"]
    lines += [f"if exist {DONE_FILE} then", f"  echo {SECOND_BOOT}", "  reset -s", "endif",
              f"echo {FIRST_BOOT}"]
    for number, image in enumerate(drivers):
        name = os.path.basename(image)
        shutil.copyfile(image, os.path.join(drive, name))
        lines.append(f'bcfg driver add {number} {name} "{name}"')
    lines += [f"echo done > {DONE_FILE}", "reset -s"]
    with open(os.path.join(drive, "startup.nsh"), "wb") as script:
        script.write("".join(line + "\r\n" for line in lines).encode("ascii"))
    return drive


def run(arguments, firmware, directory):
    """Both runs; returns the PASS line. firmware is run-firmware's module namespace."""
    drive = prepare_drive(directory, arguments.driver_option)
    variables = os.path.join(directory, "VARS.fd")
    shutil.copyfile(arguments.ovmf_vars, variables)
    stick = os.path.join(directory, "stick.img")
    shutil.copyfile(arguments.usb_stick, stick)
    if arguments.stick_state == "full":
        fill_stick(stick, directory)
    with open(stick, "rb") as image:
        before = hashlib.sha256(image.read()).hexdigest()
    read_only = ",readonly=on" if arguments.stick_state == "read-only" else ""
    command = firmware.qemu_command(arguments, drive, variables) + [
        "-device", "qemu-xhci,id=usb",
        "-drive", f"if=none,id=stick,format=raw,file={stick}{read_only}",
        "-device", "usb-storage,bus=usb.0,drive=stick"]

    keys = firmware.KeyPlan(every_countdown=True, boot_key_at=WAIT_LINE.encode("ascii"))
    console, seconds, failure = firmware.run_qemu(command, arguments.timeout, arguments.show, keys)
    first = firmware.strip_escapes(console).decode("utf-8", "replace")
    if failure is None and re.search(rf"^{FIRST_BOOT}\r$", first, re.MULTILINE) is None:
        failure = "the first run's startup.nsh never ran"
    if failure is not None:
        raise firmware.RunError(f"first run: {failure}\n--- console ---\n"
                                + firmware.console_tail(first))
    if arguments.single_run:
        if arguments.log:
            with open(arguments.log, "wb") as log:
                log.write(console)
        result = check_run(arguments, firmware, console, first, keys, FIRST_BOOT, [], 0)
        return check_not_saved(arguments, firmware, stick, before, result, seconds)

    keys = firmware.KeyPlan(every_countdown=True, boot_key_at=WAIT_LINE.encode("ascii"),
                            boot_key_delay=USB_KEY_DELAY)
    console, seconds, failure = firmware.run_qemu(command, arguments.timeout, arguments.show, keys)
    if arguments.log:
        with open(arguments.log, "wb") as log:
            log.write(console)
    text = firmware.strip_escapes(console).decode("utf-8", "replace")
    if failure is not None:
        raise firmware.RunError(f"second run: {failure}\n--- console ---\n"
                                + firmware.console_tail(text))
    expected = firmware.expected_lines(arguments.expect)
    if arguments.expect_annotated:
        expected += expected_annotated(arguments, firmware.RunError)
    result = check_run(arguments, firmware, console, text, keys, SECOND_BOOT, expected,
                       arguments.expect_rebar_functions)
    files = report_files(stick)
    for name, saved in ((first_saved(firmware, first), "RBAR0001.TXT"),
                        (result["saved"], "RBAR0002.TXT")):
        if name != "\\rbar-survey\\" + saved or saved not in files:
            raise firmware.RunError(f"the run said it saved {name!r}; the stick holds "
                                    f"{sorted(files)}, {saved} expected")
    size = check_report_file(arguments, firmware, files["RBAR0002.TXT"], result["screen"])
    return (f"run-firmware: PASS: {os.path.basename(arguments.usb_stick)} as a USB drive: "
            f"{len(result['report'])} report lines in {result['pages']} pages, {result['found']} functions with a Resizable "
            f"BAR, report file RBAR0002.TXT of {size} bytes saved in {result['save']:.1f} s, "
            f"waited {result['waited']:.1f} s for the key, returned Aborted, then the next boot "
            f"option; facts to summary {result['facts_to_summary']:.2f} s; wait line "
            f"{result['shown']:.1f} s after QEMU started, "
            f"{result['from_loading']:.1f} s after the stick's loading; second QEMU run "
            f"{seconds:.1f} s")


def first_saved(firmware, text):
    """The file the first run's save line names."""
    saved = firmware.SAVE_LINE.search(text)
    return saved.group(1) if saved is not None else None


def check_not_saved(arguments, firmware, stick, before, result, seconds):
    """A stick the image could not write: the screen said why, and no file looks complete."""
    said = SAVE_FAILURES[arguments.stick_state]
    if result["failure"] != said:
        raise firmware.RunError(f"the save line says {result['failure']!r}, not {said!r}")
    with open(stick, "rb") as image:
        changed = hashlib.sha256(image.read()).hexdigest() != before
    if arguments.stick_state == "read-only" and changed:
        raise firmware.RunError("the read-only stick's image changed")
    files = report_files(stick)
    complete = [name for name, content in files.items()
                if REPORT_LAST_LINE.encode("ascii") + b"\r\n" in content
                or explains(arguments, content).returncode == 0]
    if complete:
        raise firmware.RunError(f"files that look complete on a stick that could not take "
                                f"them: {complete}")
    return (f"run-firmware: PASS: {os.path.basename(arguments.usb_stick)} {arguments.stick_state} "
            f"as a USB drive: \"not saved: {said}\" after the count line, then the wait line; "
            f"report files left that rbar-survey refuses: {sorted(files)}; "
            f"waited {result['waited']:.1f} s for the key, returned Aborted, then the next boot "
            f"option; QEMU run {seconds:.1f} s")


def check_run(arguments, firmware, console, text, keys, marker, expected, rebar_functions):
    # The driver options are loaded before any boot option.
    started = STICK_STARTED.search(text)
    if started is None:
        raise firmware.RunError("the firmware never started the stick\n--- console ---\n"
                                + firmware.console_tail(text))
    count = firmware.COUNT_LINE.search(text, started.end())
    if count is None:
        raise firmware.RunError("the boot image printed no count line\n--- console ---\n"
                                + firmware.console_tail(text))
    report = text[started.end():count.start()].split("\r\n")
    if report.pop():
        raise firmware.RunError(f"report line not ended by CR LF before the count line: {report!r}")
    screen = report
    facts, report = firmware.split_boot_screen(report)
    firmware.check_facts(arguments, facts)
    if expected or arguments.expect or arguments.expect_annotated or arguments.expect_empty:
        firmware.check_report(report, expected)
    found = int(count.group(1))
    if rebar_functions is not None and found != rebar_functions:
        raise firmware.RunError(f"count line gives {found} functions with a Resizable BAR, "
                                f"{rebar_functions} expected")
    after_summary = firmware.summary_end(text, count)
    screen = screen + text[count.start():after_summary].split("\r\n")[:-1]
    saved = firmware.SAVE_LINE.match(text, after_summary)
    if saved is None:
        raise firmware.RunError("no save line after the count line and summary: "
                                f"{text[after_summary:after_summary + 200]!r}")
    wait = text[saved.end():saved.end() + len(WAIT_LINE) + 2]
    if wait != WAIT_LINE + "\r\n":
        raise firmware.RunError(f"no wait line after the save line: {wait!r}")
    after = saved.end() + len(wait)
    returned = re.compile(STICK_RETURNED.format(option=started.group(1))).match(text, after)
    if returned is None or returned.group(1) != "Aborted":
        raise firmware.RunError("the firmware did not go on after the stick: "
                                f"{text[after:after + 200]!r}")
    if NEXT_OPTION.search(text, returned.end()) is None or re.search(
            rf"^{marker}\r$", text[returned.end():], re.MULTILINE) is None:
        raise firmware.RunError("no boot option followed the stick\n--- console ---\n"
                                + firmware.console_tail(text))
    loaded, _ = firmware.arrival(console, keys, rb"BdsDxe: loading Boot[0-9A-F]{4} \"[^\"]*USB")
    shown, _ = firmware.arrival(console, keys, re.escape(WAIT_LINE.encode("ascii")))
    # From the facts block's first line to the summary table's (pauses included: the runner
    # answers each at once).
    facts_shown, _ = firmware.arrival(console, keys, rb"rbar-survey [0-9][^,\r\n]*, before")
    # A report without a proposal has no summary table.
    summary_shown = (firmware.arrival(console, keys, rb"Summary: ")[0] if b"Summary: " in console
                     else facts_shown)
    gone_on, _ = firmware.arrival(console, keys, rb"BdsDxe: failed to start Boot[0-9A-F]{4} "
                                                 rb"\"[^\"]*USB")
    if keys.key_sent_at is None or gone_on < keys.key_sent_at:
        raise firmware.RunError(f"the image returned {gone_on - shown:.1f} s after its wait "
                                "line, before the key was pressed")
    pauses = console.count(firmware.PAGER_PROMPT_TEXT)
    if pauses == 0 and len(report) >= SCREEN_ROWS:
        raise firmware.RunError(f"{len(report)} report lines and no pause in wait mode")
    counted, _ = firmware.arrival(console, keys, firmware.COUNT_LINE.pattern.encode("ascii"))
    said, _ = firmware.arrival(console, keys, rb"Saved to |rbar-survey: not saved: ")
    return {"report": report, "found": found, "screen": screen,
            "saved": saved.group(1), "failure": saved.group(2), "save": said - counted,
            "waited": gone_on - shown, "pages": pauses + 1,
            "facts_to_summary": summary_shown - facts_shown, "shown": shown,
            "from_loading": shown - loaded}
