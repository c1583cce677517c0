#!/usr/bin/env python3
"""Boots EFI images in QEMU with UEFI firmware and checks what the last one printed.

--arch picks the processor: x86-64 (default) boots q35 (or, with --machine pc, the i440fx
machine) with OVMF, aarch64 boots the virt machine with AAVMF.

The images are put on a FAT drive with a startup.nsh that loads them in the order given and
then powers the machine off (`reset -s`). The UEFI shell echoes each command, runs the image's
entry point and then prints "Image 'FS0:\\NAME' loaded at ADDRESS - Success"; what the console
shows between the echo of the last image's load command and that line is its report.

It fails (exit status 1) when QEMU is missing or fails, when a CPU exception shows on the
console, when the machine does not power itself off within the time limit, when an image does
not load with Success, or when the report differs from what --expect or --expect-empty asks.

With --boot-option the run takes two boots instead. In the first, startup.nsh adds each
--driver-option image as a driver load option and the --boot-option image as the first boot
option (bcfg), writes fs0:\\done.txt and restarts the machine. In the second, the firmware loads
the driver options, starts the boot image, and, once that returns, the next boot option: the
shell, whose startup.nsh then finds done.txt, says so and powers off. What the boot image
printed up to its count line is its report; the run also checks its count line, its countdown
(run out, or ended by a key with --boot-key) and that the shell came after it.

With --firmware (U-Boot, or OVMF with Secure Boot enforcing), where no shell loads the images, a
test chain-loader starts them instead: see firmware_chainload.py.

With --path the boot image is reached without the shell: through GRUB, systemd-boot, or the
boot options rbar-survey-boot makes in a Linux guest (firmware_boot_paths.py).
"""

import argparse
import collections
import difflib
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import firmware_boot_paths
import firmware_chainload
import firmware_usb

# An emulated machine: the emulator, its machine arguments, the firmware's code and variable
# store, and the Debian packages that provide the emulator and the firmware.
Platform = collections.namedtuple(
    "Platform", "qemu qemu_package machine firmware_code firmware_vars firmware_package")

PLATFORMS = {
    "x86-64": Platform(
        "qemu-system-x86_64", "qemu-system-x86", ["-machine", "q35", "-m", "256"],
        "/usr/share/OVMF/OVMF_CODE_4M.fd", "/usr/share/OVMF/OVMF_VARS_4M.fd", "ovmf"),
    "aarch64": Platform(
        "qemu-system-aarch64", "qemu-system-arm",
        ["-machine", "virt", "-cpu", "cortex-a57", "-m", "512"],
        "/usr/share/AAVMF/AAVMF_CODE.fd", "/usr/share/AAVMF/AAVMF_VARS.fd", "qemu-efi-aarch64"),
}

# The shell's countdown before startup.nsh; any key but ESC ends it at once. Colour codes split
# the sentence, this fragment stands whole on the console.
COUNTDOWN = b" seconds to skip "
SKIP_KEY = b"\r"
# What the firmware prints on a CPU fault, before hanging: OVMF names the x86-64 exception,
# AAVMF the kind of AArch64 exception and the address it was taken at.
EXCEPTION_PATTERN = r"!!!! X64 Exception|(?:Synchronous|IRQ|FIQ|SError) Exception at 0x"
EXCEPTION = re.compile(EXCEPTION_PATTERN.encode("ascii"))
EXCEPTION_TEXT = re.compile(EXCEPTION_PATTERN)
# Time to let the register dump that follows an exception reach the console.
EXCEPTION_GRACE = 0.5
# Time for QEMU to exit once it has closed the console.
EXIT_GRACE = 10

# Console escape sequences: CSI (colours, cursor moves, clearing), character set selection and
# the two-character ones. Everything else is text.
ESCAPE = re.compile(rb"\x1b(?:\[[0-?]*[ -/]*[@-~]|[()][0-9A-Za-z]|[@-Z\\-_=>78])")
# An escape sequence that may still be arriving at the end of the captured bytes.
PARTIAL_ESCAPE = re.compile(rb"\x1b(?:\[[0-?]*[ -/]*|[()])?\Z")

LINE_END = "\r\n"
# Console lines shown with a failure.
TAIL_LINES = 25


class RunError(Exception):
    """A failure with the message to print."""


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Boot EFI images in QEMU/OVMF or QEMU/AAVMF and check the report of the "
                    "last one.")
    parser.add_argument("--arch", choices=sorted(PLATFORMS), default="x86-64",
                        help="processor of the machine and of the images (default x86-64)")
    parser.add_argument("--image", action="append", default=[], metavar="FILE",
                        help="EFI image to load; repeat for several, in load order (the last "
                             "one's output is the report)")
    parser.add_argument("--device", action="append", default=[], metavar="ARG",
                        help="extra QEMU -device argument, e.g. e1000e,romfile=")
    parser.add_argument("--machine", choices=("q35", "pc"),
                        help="x86-64 QEMU machine: q35 (PCI Express, the default) or pc "
                             "(i440fx, no extended configuration space)")
    parser.add_argument("--qemu-arg", action="append", default=[], metavar="ARG",
                        help="extra QEMU argument, passed as it is; repeat for several, e.g. "
                             "--qemu-arg=-blockdev --qemu-arg=driver=null-co,node-name=nv")
    parser.add_argument("--expect-console", action="append", default=[], metavar="REGEX",
                        help="a regular expression the console (escape codes removed) must "
                             "match somewhere, e.g. a device path in the shell's mapping table")
    parser.add_argument("--timeout", type=float, default=90, metavar="SEC",
                        help="seconds before QEMU is stopped and the run fails (default 90)")
    parser.add_argument("--log", metavar="FILE", help="write the whole raw console to FILE")
    parser.add_argument("--expect", action="append", default=[], metavar="FILE",
                        help="expected report lines; several files are joined in order")
    parser.add_argument("--expect-empty", action="store_true",
                        help="the last image must print nothing")
    parser.add_argument("--show", action="store_true",
                        help="stream the console (escape codes removed) to the terminal")
    parser.add_argument("--driver-option", action="append", default=[], metavar="FILE",
                        help="with --boot-option: EFI driver added as a driver load option "
                             "(repeat for several, in load order)")
    parser.add_argument("--boot-option", metavar="FILE",
                        help="boot image added as the first boot option: two boots, the "
                             "report is what it prints before its count line")
    parser.add_argument("--boot-key", action="store_true",
                        help="with --boot-option: press a key when its countdown shows")
    parser.add_argument("--expect-fact", action="append", default=[], metavar="REGEX",
                        help="with a boot image: a regular expression a line of its facts "
                             "block must match, e.g. \"^CSM is on\"")
    parser.add_argument("--expect-rebar-functions", type=int, metavar="N",
                        help="with --boot-option: the count its last line must give")
    firmware_usb.add_arguments(parser)
    parser.add_argument("--ovmf-code", metavar="FILE",
                        help="firmware code (default: the --arch machine's OVMF or AAVMF)")
    parser.add_argument("--ovmf-vars", metavar="FILE",
                        help="firmware variable store to start from (copied, never written)")
    firmware_boot_paths.add_arguments(parser)
    firmware_chainload.add_arguments(parser)
    arguments = parser.parse_args()
    if arguments.expect and arguments.expect_empty:
        parser.error("--expect and --expect-empty exclude each other")
    if arguments.machine and arguments.arch != "x86-64":
        parser.error("--machine chooses among x86-64 machines only")
    arguments.platform = PLATFORMS[arguments.arch]
    if arguments.machine:
        arguments.platform = arguments.platform._replace(
            machine=["-machine", arguments.machine, "-m", "256"])
    arguments.ovmf_code = arguments.ovmf_code or arguments.platform.firmware_code
    arguments.ovmf_vars = arguments.ovmf_vars or arguments.platform.firmware_vars
    if arguments.expect_annotated and not arguments.annotate_tool:
        parser.error("--expect-annotated needs --annotate-tool")
    if arguments.path is not None:
        if arguments.image or not arguments.boot_option:
            parser.error("--path boots the --boot-option image, without --image")
    elif arguments.usb_stick is not None:
        if arguments.image or arguments.boot_option or arguments.boot_key:
            parser.error("--usb-stick excludes --image, --boot-option and --boot-key")
    elif arguments.boot_option is None:
        if not arguments.image:
            parser.error("give --image, --boot-option or --usb-stick")
        if arguments.driver_option or arguments.boot_key or (
                arguments.expect_rebar_functions is not None and arguments.firmware is None):
            parser.error("--driver-option, --boot-key and --expect-rebar-functions need "
                         "--boot-option")
    elif arguments.image:
        parser.error("--image and --boot-option exclude each other")
    firmware_chainload.check_arguments(parser, arguments)
    return arguments


def check_platform(arguments):
    """Names the Debian package that provides whatever is missing."""
    platform = arguments.platform
    if shutil.which(platform.qemu) is None:
        raise RunError(f"{platform.qemu} not found: install the Debian package "
                       f"{platform.qemu_package}")
    for path in (arguments.ovmf_code, arguments.ovmf_vars):
        if not os.path.isfile(path):
            raise RunError(f"{path} not found: install the Debian package "
                           f"{platform.firmware_package}")
    names = set()
    for image in all_images(arguments):
        if not os.path.isfile(image):
            raise RunError(f"image {image} not found: build it first")
        name = os.path.basename(image)
        if name.lower() in names:
            raise RunError(f"two images named {name}")
        names.add(name.lower())


def all_images(arguments):
    """Every image the drive holds, in load order."""
    if arguments.usb_stick is not None:
        return arguments.driver_option + [arguments.usb_stick]
    if arguments.boot_option is None:
        return arguments.image
    return arguments.driver_option + [arguments.boot_option]


def prepare_drive(directory, images):
    """The FAT directory: the images and a startup.nsh (CR LF) that loads them, then powers off."""
    drive = os.path.join(directory, "drive")
    os.mkdir(drive)
    lines = []
    for image in images:
        name = os.path.basename(image)
        shutil.copyfile(image, os.path.join(drive, name))
        lines.append(f"load fs0:\\{name}")
    lines.append("reset -s")
    with open(os.path.join(drive, "startup.nsh"), "wb") as script:
        script.write("".join(line + LINE_END for line in lines).encode("ascii"))
    return drive


# The two-boot run: the first boot's startup.nsh leaves this file on the drive, the second's
# finds it, prints the marker line and powers off.
DONE_FILE = "done.txt"
SECOND_BOOT = "run-firmware: second boot"
BOOT_OPTION_NAME = "rbar-survey"


def prepare_boot_drive(directory, drivers, boot):
    """The FAT directory for two boots: the images and a startup.nsh (CR LF) that adds the load
    options and restarts, or, once they have been added, says so and powers off."""
    drive = os.path.join(directory, "drive")
    os.mkdir(drive)
    lines = [f"if exist fs0:\\{DONE_FILE} then", f"  echo {SECOND_BOOT}", "  reset -s", "endif"]
    for number, image in enumerate(drivers):
        name = os.path.basename(image)
        lines.append(f'bcfg driver add {number} fs0:\\{name} "{name}"')
    for image in drivers + [boot]:
        shutil.copyfile(image, os.path.join(drive, os.path.basename(image)))
    lines.append(f'bcfg boot add 0 fs0:\\{os.path.basename(boot)} "{BOOT_OPTION_NAME}"')
    lines.append(f"echo done > fs0:\\{DONE_FILE}")
    # Without QEMU's -no-reboot this restarts the machine, with the load options kept.
    lines.append("reset")
    with open(os.path.join(drive, "startup.nsh"), "wb") as script:
        script.write("".join(line + LINE_END for line in lines).encode("ascii"))
    return drive


def qemu_command(arguments, drive, variables):
    platform = arguments.platform
    command = [
        platform.qemu, *platform.machine, "-nographic", "-no-reboot", "-net", "none",
        "-serial", "mon:stdio",
        "-drive", f"if=pflash,format=raw,readonly=on,file={arguments.ovmf_code}",
        "-drive", f"if=pflash,format=raw,file={variables}",
        "-drive", f"format=raw,file=fat:rw:{drive}",
    ]
    for device in arguments.device:
        command += ["-device", device]
    return command + arguments.qemu_arg


# The boot image's pause at a full page, erased once a key came: the prompt, a carriage return,
# as many spaces and another carriage return.
PAGER_PROMPT_TEXT = b"-- more: any key --"
PAGER_PROMPT = re.compile(re.escape(PAGER_PROMPT_TEXT) + rb"\r {%d}\r" % len(PAGER_PROMPT_TEXT))


def strip_escapes(data):
    """The console without escape sequences and without the boot image's pager prompts."""
    return PAGER_PROMPT.sub(b"", ESCAPE.sub(b"", data))


class ConsoleEcho:
    """Writes the console to the terminal as it arrives, without its escape sequences."""

    def __init__(self, enabled):
        self.enabled = enabled
        self.shown = 0

    def update(self, console, final=False):
        if not self.enabled:
            return
        end = len(console)
        if not final:
            partial = PARTIAL_ESCAPE.search(console, self.shown)
            if partial:
                end = partial.start()
        if end > self.shown:
            sys.stdout.buffer.write(strip_escapes(console[self.shown:end]))
            self.shown = end
        if final and not console.endswith(b"\n"):
            sys.stdout.buffer.write(b"\n")
        sys.stdout.buffer.flush()


class KeyPlan:
    """Which keys to send as the console grows: the skip key at the first of the shell's
    countdowns (at each one with every_countdown), and one key boot_key_delay seconds after the
    fragment boot_key_at first shows. Records when each chunk of the console arrived, and when
    that key was sent (seconds from the start, like the arrivals)."""

    def __init__(self, every_countdown=False, boot_key_at=None, boot_key_delay=0.0):
        # The boot image's pager prompts, each answered with a key.
        self.prompts_answered = 0
        self.every_countdown = every_countdown
        self.boot_key_at = boot_key_at
        self.boot_key_delay = boot_key_delay
        self.boot_key_seen = None
        self.countdowns_answered = 0
        self.boot_key_sent = False
        self.key_sent_at = None
        self.arrivals = []
        self.started = time.monotonic()

    def keys_for(self, console):
        keys = b""
        countdowns = console.count(COUNTDOWN)
        wanted = countdowns if self.every_countdown else min(countdowns, 1)
        if wanted > self.countdowns_answered:
            keys += SKIP_KEY
            self.countdowns_answered = wanted
        prompts = console.count(PAGER_PROMPT_TEXT)
        if prompts > self.prompts_answered:
            keys += SKIP_KEY * (prompts - self.prompts_answered)
            self.prompts_answered = prompts
        if self.boot_key_at is not None and not self.boot_key_sent and self.boot_key_at in console:
            now = time.monotonic()
            self.boot_key_seen = self.boot_key_seen or now
            if now - self.boot_key_seen >= self.boot_key_delay:
                keys += SKIP_KEY
                self.boot_key_sent = True
                self.key_sent_at = now - self.started
        return keys

    def arrived(self, offset):
        """The time the console byte at offset arrived."""
        for end, moment in self.arrivals:
            if offset < end:
                return moment
        return None


def read_console(process, descriptor, console, echo, timeout, started, keys):
    """Collects the console until QEMU closes it; returns why it had to be stopped, or None."""
    exception_seen = None
    while True:
        now = time.monotonic()
        if exception_seen is not None and now - exception_seen >= EXCEPTION_GRACE:
            return "CPU exception in firmware"
        if now - started >= timeout:
            return f"timed out after {timeout:g} s: the machine did not power itself off"
        ready, _, _ = select.select([descriptor], [], [], 0.1)
        if ready:
            chunk = os.read(descriptor, 65536)
            if not chunk:
                return None
            console += chunk
            keys.arrivals.append((len(console), time.monotonic() - started))
            echo.update(console)
        # A delayed or repeated key may fall due while the console is quiet.
        send = keys.keys_for(console)
        if send:
            try:
                process.stdin.write(send)
                process.stdin.flush()
            except BrokenPipeError:
                pass
        if exception_seen is None and EXCEPTION.search(console):
            exception_seen = time.monotonic()


def run_qemu(command, timeout, show, keys=None):
    """Runs QEMU to its end and returns (console bytes, seconds, failure message or None)."""
    started = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    errors = []
    reader = threading.Thread(target=lambda: errors.append(process.stderr.read()), daemon=True)
    reader.start()
    console = bytearray()
    echo = ConsoleEcho(show)
    descriptor = process.stdout.fileno()
    keys = keys or KeyPlan()
    keys.started = started
    try:
        failure = read_console(process, descriptor, console, echo, timeout, started, keys)
    except BaseException:
        # An interrupted run leaves no emulator behind.
        process.kill()
        raise
    if failure is not None:
        process.kill()
    try:
        process.wait(timeout=EXIT_GRACE)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        failure = failure or f"{command[0]} closed the console but did not exit"
    reader.join(timeout=5)
    echo.update(console, final=True)
    seconds = time.monotonic() - started
    if failure is None and process.returncode != 0:
        message = b"".join(errors).decode("utf-8", "replace").strip()
        failure = f"{command[0]} exited with status {process.returncode}: {message}"
    return bytes(console), seconds, failure


def console_tail(text):
    """The end of the console for a failure message: from an exception on, or the last lines."""
    found = EXCEPTION_TEXT.search(text)
    start = found.start() if found else -1
    lines = text[max(start, 0):].replace("\r", "").splitlines()
    return "\n".join(lines[:TAIL_LINES] if start >= 0 else lines[-TAIL_LINES:])


def load_results(text, images):
    """For each image, the shell's line after loading it; fails unless each says Success."""
    results = []
    for image in images:
        name = re.escape(os.path.basename(image))
        match = re.search(rf"Image 'FS0:\\{name}' (.*?)\r\n", text, re.IGNORECASE)
        if match is None:
            raise RunError(f"the shell never reported loading {os.path.basename(image)}")
        if not re.fullmatch(r"loaded at [0-9A-F]+ - Success", match.group(1)):
            raise RunError(f"{os.path.basename(image)}: {match.group(0).strip()}")
        results.append(match)
    return results


def report_lines(text, image):
    """The lines the image printed: between the echo of its load command and the shell's
    result line. Each must end with CR LF."""
    name = re.escape(os.path.basename(image))
    echo = re.search(rf"load fs0:\\{name}\r\n", text, re.IGNORECASE)
    if echo is None:
        raise RunError(f"the shell never echoed the load command of {os.path.basename(image)}")
    result = re.compile(rf"Image 'FS0:\\{name}' ", re.IGNORECASE).search(text, echo.end())
    if result is None:
        raise RunError(f"no result line after loading {os.path.basename(image)}")
    report = text[echo.end():result.start()]
    lines = report.split(LINE_END)
    if lines[-1]:
        raise RunError(f"report line not ended by CR LF before the shell's result: {lines[-1]!r}")
    lines.pop()
    for number, line in enumerate(lines, 1):
        if "\r" in line or "\n" in line:
            raise RunError(f"report line {number} holds a line end other than CR LF: {line!r}")
    return lines


def expected_lines(paths):
    lines = []
    for path in paths:
        with open(path, encoding="utf-8") as expected:
            lines += expected.read().splitlines()
    return lines


def check_report(actual, expected):
    """Actual must be expected, line by line; an expected line that is a firmware_usb.Prefix
    only has to start the actual line."""
    expected = [found if isinstance(wanted, firmware_usb.Prefix) and found.startswith(wanted)
                else wanted for found, wanted in zip(actual, expected)] + expected[len(actual):]
    if actual == expected:
        return
    diff = difflib.unified_diff(expected, actual, "expected", "printed", lineterm="")
    raise RunError("report differs from the expected lines:\n" + "\n".join(diff))


def image_seconds(console, keys, image):
    """Seconds from the shell's echo of the image's load command to its result line, as the
    console received them (to a chunk's precision), or None when either is missing."""
    name = re.escape(os.path.basename(image).encode("ascii"))
    echo = re.search(rb"load fs0:\\" + name + rb"\r\n", console, re.IGNORECASE)
    result = re.compile(rb"Image 'FS0:\\" + name + rb"' ", re.IGNORECASE)
    found = result.search(console, echo.end()) if echo else None
    if found is None:
        return None
    return keys.arrived(found.start()) - keys.arrived(echo.end() - 1)


# What the boot image prints after its report: the count line (the version, root bridges and
# functions scanned, and those with a Resizable BAR), the summary table, then the countdown,
# one tick a second on the same line, rewritten after a carriage return.
COUNT_LINE = re.compile(r"rbar-survey [0-9][^:\r\n]*: \d+ root bridges?, \d+ functions? scanned, "
                        r"(\d+) with Resizable BAR\r\n")
SUMMARY_TABLE = re.compile(r"Summary: [^\r\n]*\r\n(?:(?!Press any key|\r?Boot continues|Saved to |"
                           r"rbar-survey: not saved: )[^\r\n]*\r\n)*")
# Before the report, the facts block, ended by an empty line; in the report, the rest of a line
# too long for the console starts its next row after this indent.
FACTS_FIRST_LINE = re.compile(r"rbar-survey [0-9][^,]*, before the operating system$")
CONTINUATION_INDENT = "    "
# The line after the count line when the boot image saves its report (or fails to), and the
# folder it saves into.
SAVE_LINE = re.compile(r"(?:Saved to (\\rbar-survey\\RBAR\d{4}\.TXT) on this (?:stick|volume)"
                       r"|rbar-survey: not saved: ([^\r\n]*))\r\n")
REPORT_FOLDER = "rbar-survey"
BOOT_COUNTDOWN = b"Boot continues in "
WAIT_LINE = "Press any key to continue booting."
WAIT_LINE_BYTES = WAIT_LINE.encode("ascii")
COUNTDOWN_TICK = re.compile(r"\r?Boot continues in (\d+) s; press any key to continue now\.")
COUNTDOWN_SECONDS = 5
# The boot manager's lines around the boot option: starting it, and what it returned when that
# was not success.
BOOT_STARTED = re.compile(rf'BdsDxe: starting Boot[0-9A-F]{{4}} "{BOOT_OPTION_NAME}" from .*?\r\n')
BOOT_RETURNED = re.compile(rf'BdsDxe: failed to start Boot[0-9A-F]{{4}} "{BOOT_OPTION_NAME}" '
                           r'from .*?: (.*?)\r\n')


def arrival(console, keys, pattern, start=0):
    """The time the first match of the byte pattern at or after start reached the console."""
    match = re.compile(pattern).search(console, start)
    if match is None:
        raise RunError(f"{pattern!r} never showed on the console")
    return keys.arrived(match.start()), match.end()


def summary_end(text, count):
    """The offset after the summary table that follows the count line match count (there is
    none when no proposal was made)."""
    table = SUMMARY_TABLE.match(text, count.end())
    return table.end() if table else count.end()


def joined_rows(lines):
    """Lines with each row that carries on a line too long for the console joined back to it."""
    joined = []
    for line in lines:
        if line.startswith(CONTINUATION_INDENT) and joined:
            joined[-1] += " " + line[len(CONTINUATION_INDENT):]
        else:
            joined.append(line)
    return joined


def split_boot_screen(lines):
    """Splits the boot screen's lines before the count line into the facts block (up to its
    empty line) and the report, their lines too long for the console joined again."""
    if not lines or FACTS_FIRST_LINE.match(lines[0]) is None or "" not in lines:
        raise RunError(f"the boot screen does not start with its facts block: {lines[:8]!r}")
    end = lines.index("")
    return joined_rows(lines[:end]), joined_rows(lines[end + 1:])


def check_facts(arguments, facts):
    """Each --expect-fact pattern must match a line of the facts block."""
    for pattern in arguments.expect_fact:
        if not any(re.search(pattern, line) for line in facts):
            raise RunError(f"no line of the facts block matches {pattern!r}:\n"
                           + "\n".join(facts))


def check_countdown(arguments, text, console, keys):
    """Checks the countdown line after the count line: ticks from COUNTDOWN_SECONDS down, all of
    them without a key, fewer with --boot-key, in the time that takes. Returns (ticks, seconds
    from the first tick to the line end) and the offset in text after it."""
    after_summary = summary_end(text, COUNT_LINE.search(text))
    line_end = text.find(LINE_END, after_summary)
    line = text[after_summary:line_end]
    ticks = [int(number) for number in COUNTDOWN_TICK.findall(line)]
    if COUNTDOWN_TICK.sub("", line) or not ticks:
        raise RunError(f"the countdown line holds more than its ticks: {line!r}")
    if ticks != list(range(COUNTDOWN_SECONDS, COUNTDOWN_SECONDS - len(ticks), -1)):
        raise RunError(f"countdown ticks out of order: {ticks}")
    first, after = arrival(console, keys, re.escape(BOOT_COUNTDOWN))
    ended, _ = arrival(console, keys, rb"\r\n", after)
    seconds = ended - first
    if arguments.boot_key:
        if len(ticks) == COUNTDOWN_SECONDS:
            raise RunError(f"the key did not end the countdown: ticks {ticks}, {seconds:.1f} s")
    elif len(ticks) != COUNTDOWN_SECONDS or seconds < COUNTDOWN_SECONDS - 1:
        raise RunError(f"the countdown did not run out: ticks {ticks}, {seconds:.1f} s")
    return ticks, seconds, line_end + len(LINE_END)


def check_boot_run(arguments, console, text, keys, seconds):
    """Checks the second boot of a --boot-option run; prints the figures and returns 0."""
    started = BOOT_STARTED.search(text)
    if started is None:
        raise RunError("the boot manager never started the boot option\n--- console ---\n"
                       + console_tail(text))
    count = COUNT_LINE.search(text, started.end())
    if count is None:
        raise RunError("the boot image printed no count line\n--- console ---\n"
                       + console_tail(text))
    report = text[started.end():count.start()].split(LINE_END)
    if report.pop():
        raise RunError(f"report line not ended by CR LF before the count line: {report!r}")
    facts, report = split_boot_screen(report)
    check_facts(arguments, facts)
    if arguments.expect_empty:
        check_report(report, [])
    elif arguments.expect or arguments.expect_annotated:
        check_report(report, expected_lines(arguments.expect)
                     + firmware_usb.expected_annotated(arguments, RunError))
    found = int(count.group(1))
    if arguments.expect_rebar_functions is not None and found != arguments.expect_rebar_functions:
        raise RunError(f"count line gives {found} functions with a Resizable BAR, "
                       f"{arguments.expect_rebar_functions} expected")
    ticks, countdown, after = check_countdown(arguments, text, console, keys)
    if PAGER_PROMPT_TEXT in console:
        raise RunError("the boot image paused its report while counting down")
    returned = BOOT_RETURNED.match(text, after)
    if returned is None:
        raise RunError("the boot manager did not go on after the boot image: "
                       f"{text[after:after + 200]!r}")
    if re.search(rf"^{re.escape(SECOND_BOOT)}\r$", text[returned.end():], re.MULTILINE) is None:
        raise RunError("the next boot option (the shell) did not follow the boot image"
                       "\n--- console ---\n" + console_tail(text))
    loaded, _ = arrival(console, keys, rb'BdsDxe: loading Boot[0-9A-F]{4} "rbar-survey"')
    gone_on, _ = arrival(console, keys, rb"BdsDxe: failed to start Boot[0-9A-F]{4} "
                                        rb'"rbar-survey"')
    print(f"run-firmware: PASS: {os.path.basename(arguments.boot_option)} as the first boot "
          f"option: {len(report)} report lines, {found} functions with a Resizable BAR, "
          f"countdown {ticks[0]}..{ticks[-1]} for {countdown:.1f} s, returned "
          f"{returned.group(1)}, then the shell; boot option from loading to return "
          f"{gone_on - loaded:.1f} s; QEMU powered off after {seconds:.1f} s")
    return 0


def main():
    arguments = parse_arguments()
    if arguments.firmware is not None:
        return firmware_chainload.run(arguments, sys.modules[__name__])
    try:
        check_platform(arguments)
        if arguments.path is not None:
            return firmware_boot_paths.run_path(sys.modules[__name__], arguments)
        if arguments.usb_stick is not None:
            with tempfile.TemporaryDirectory(prefix="run-firmware-") as directory:
                print(firmware_usb.run(arguments, sys.modules[__name__], directory))
            return 0
        with tempfile.TemporaryDirectory(prefix="run-firmware-") as directory:
            if arguments.boot_option is None:
                drive = prepare_drive(directory, arguments.image)
            else:
                drive = prepare_boot_drive(directory, arguments.driver_option,
                                           arguments.boot_option)
            variables = os.path.join(directory, "OVMF_VARS.fd")
            shutil.copyfile(arguments.ovmf_vars, variables)
            command = qemu_command(arguments, drive, variables)
            keys = KeyPlan()
            if arguments.boot_option is not None:
                # The first boot restarts the machine.
                command.remove("-no-reboot")
                keys = KeyPlan(every_countdown=True,
                               boot_key_at=BOOT_COUNTDOWN if arguments.boot_key else None)
            console, seconds, failure = run_qemu(command, arguments.timeout, arguments.show,
                                                 keys)
            # A boot option on a fixed drive, without "save": no report file.
            if arguments.boot_option is not None and failure is None and os.path.exists(
                    os.path.join(drive, REPORT_FOLDER)):
                failure = f"the boot image wrote \\{REPORT_FOLDER}\\ on its drive, unasked"
        if arguments.log:
            with open(arguments.log, "wb") as log:
                log.write(console)
        text = strip_escapes(console).decode("utf-8", "replace")
        if failure is not None:
            raise RunError(f"{failure}\n--- console ---\n{console_tail(text)}")
        if arguments.boot_option is not None:
            return check_boot_run(arguments, console, text, keys, seconds)
        load_results(text, arguments.image)
        for pattern in arguments.expect_console:
            if re.search(pattern, text) is None:
                raise RunError(f"the console never matched {pattern!r}\n--- console ---\n"
                               f"{console_tail(text)}")
        lines = report_lines(text, arguments.image[-1])
        if arguments.expect_empty:
            check_report(lines, [])
        elif arguments.expect:
            check_report(lines, expected_lines(arguments.expect))
    except RunError as error:
        print(f"run-firmware: FAIL: {error}", file=sys.stderr)
        return 1
    driver = os.path.basename(arguments.image[-1])
    ran = image_seconds(console, keys, arguments.image[-1])
    ran_text = f" (it ran {ran:.2f} s)" if ran is not None else ""
    print(f"run-firmware: PASS: {driver} loaded with Success{ran_text}, {len(lines)} report "
          f"lines, QEMU powered off after {seconds:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
