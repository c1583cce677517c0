"""Chain-loader runs of run-firmware.py (--firmware): firmware where no UEFI Shell loads the images.

The test chain-loader (build/ChainLoad.efi, ChainLoadAA64.efi) is the drive's removable-media
image, \\EFI\\BOOT\\BOOTX64.EFI (BOOTAA64.EFI), and the --image files are \\EFI\\rbar\\1.efi,
2.efi, ... in load order. It loads and starts each in turn, printing
"chain-load: PATH LoadImage: STATUS" and, when loaded, "chain-load: PATH StartImage: STATUS";
what an image prints comes between its two lines. After the image that is not found it prints
"chain-load: done" and resets the machine, which ends QEMU (-no-reboot).

--firmware uboot: Debian's U-Boot for QEMU, the pc machine (x86-64) or virt (aarch64), the
images on a virtio FAT drive with a boot.scr (mkimage) that runs the chain-loader with bootefi,
which gives it --load-options as its own (U-Boot's bootargs). bootefi shows no result of an
image, which is why the chain-loader prints them.

--firmware uefi: the --arch machine's own firmware (OVMF on q35, AAVMF on virt), with the
folder made into a USB stick image as for secure-boot, which the firmware boots from its
removable-media path.

--firmware secure-boot: OVMF's secure-boot build on q35 with the snakeoil variable store
(Secure Boot enforcing, the snakeoil test key in db), the folder made into a USB stick image by
make-usb-image.sh, which OVMF boots from its removable-media path. The images are taken as
given: signing is the caller's (the build signs copies). Without --chain-loader, the one --image
is the stick's BOOTX64.EFI itself, and the run ends when the boot manager has nothing left to
boot; it then checks what the boot manager said of the stick.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

import firmware_disk

FIRMWARES = ("uboot", "secure-boot", "uefi")

# The chain-loader's lines (console escape codes removed, line ends made CR LF).
CHAIN_LINE = re.compile(r"chain-load: (\\EFI\\rbar\\(\d)\.efi) (LoadImage|StartImage): (.*?)\r\n")
CHAIN_DONE = "chain-load: done\r\n"
# Where the chain-loader takes the images from, and where firmware finds it.
IMAGE_FOLDER = ("EFI", "rbar")
REMOVABLE_MEDIA_PATH = {"x86-64": ("EFI", "BOOT", "BOOTX64.EFI"),
                        "aarch64": ("EFI", "BOOT", "BOOTAA64.EFI")}
SUCCESS = "Success"
# What the boot image returns so that a boot manager goes on.
BOOT_IMAGE_STATUS = "Aborted"

# U-Boot for QEMU from Debian's u-boot-qemu, per processor: emulator, machine, firmware, and
# mkimage's name for the processor. With q35 U-Boot spends about 11 s on AHCI timeouts.
UBOOT = {
    "x86-64": ("qemu-system-x86_64", ["-machine", "pc", "-m", "512"],
               "/usr/lib/u-boot/qemu-x86_64/u-boot.rom", "x86"),
    "aarch64": ("qemu-system-aarch64", ["-machine", "virt", "-cpu", "cortex-a57", "-m", "512"],
                "/usr/lib/u-boot/qemu_arm64/u-boot.bin", "arm64"),
}
UBOOT_PACKAGE = "u-boot-qemu"
MKIMAGE_PACKAGE = "u-boot-tools"
# U-Boot's console puts a CR before every LF it sends, so an image's CR LF arrives as CR CR LF.
UBOOT_LINE_END = re.compile(r"\r\r\n")
# Printed by boot.scr when the chain-loader came back instead of resetting the machine.
UBOOT_RETURNED = "run-firmware: the chain-loader returned"

# OVMF's secure-boot build needs SMM and the flash's secure mode; the snakeoil store enforces
# Secure Boot with the snakeoil key in db.
SECURE_BOOT_CODE = "/usr/share/OVMF/OVMF_CODE_4M.secboot.fd"
SECURE_BOOT_VARS = "/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd"
SECURE_BOOT_MACHINE = ["-machine", "q35,smm=on", "-m", "256",
                       "-global", "driver=cfi.pflash01,property=secure,value=on"]
USB_STICK = ["-device", "qemu-xhci", "-device", "usb-storage,drive=stick"]
# The boot manager's lines about the stick's boot option, and its last word when nothing is
# left to boot (it then waits for a key).
STICK_OPTION = r'Boot[0-9A-F]{4} "[^"]*USB[^"]*" from [^\r]*?'
STICK_FAILED = re.compile(rf"BdsDxe: failed to load {STICK_OPTION}: (.*?)\r\n")
STICK_STARTED = re.compile(rf"BdsDxe: starting {STICK_OPTION}\r\n")
NOTHING_LEFT = b"BdsDxe: No bootable option or device was found."
# Ctrl-A x on QEMU's multiplexed serial line (-serial mon:stdio): quit.
QEMU_QUIT = b"\x01x"


def add_arguments(parser):
    group = parser.add_argument_group("firmware without a shell (see firmware_chainload.py)")
    group.add_argument("--firmware", choices=FIRMWARES,
                       help="U-Boot (with --arch), or OVMF with Secure Boot enforcing; the "
                            "images are started by --chain-loader")
    group.add_argument("--chain-loader", metavar="FILE",
                       help="the test chain-loader image, the drive's removable-media image")
    group.add_argument("--load-options", metavar="TEXT",
                       help="U-Boot: the chain-loader's load options, which it gives each image")
    group.add_argument("--tamper-last", action="store_true",
                       help="change one byte of the last image's code on the drive")
    group.add_argument("--expect-load", default=SUCCESS, metavar="STATUS",
                       help="the last image's LoadImage status (default Success); any other "
                            "means it must not run")
    group.add_argument("--boot-image", action="store_true",
                       help="the last image is the boot image: its report ends at its count "
                            "line, a key ends its countdown, it returns Aborted")
    group.add_argument("--expect-countdown", action="store_true",
                       help="with --boot-image: its countdown must show")
    group.add_argument("--boot-wait", type=float, metavar="SEC",
                       help="with --boot-image started in wait mode: the key comes SEC seconds "
                            "after its wait line, and it must still be waiting then")


def check_arguments(parser, arguments):
    if arguments.firmware is None:
        if arguments.chain_loader or arguments.load_options or arguments.tamper_last:
            parser.error("--chain-loader, --load-options and --tamper-last need --firmware")
        return
    if arguments.boot_option or arguments.machine or arguments.device:
        parser.error("--firmware excludes --boot-option, --machine and --device")
    if arguments.chain_loader is None:
        if arguments.firmware != "secure-boot" or len(arguments.image) != 1:
            parser.error("without --chain-loader, --firmware secure-boot boots one --image")
    if arguments.boot_wait is not None and not arguments.boot_image:
        parser.error("--boot-wait needs --boot-image")
    if arguments.firmware == "secure-boot" and arguments.arch != "x86-64":
        parser.error("--firmware secure-boot is OVMF's, x86-64 only")
    if arguments.load_options and arguments.firmware != "uboot":
        parser.error("--load-options are U-Boot's bootargs")


def check_platform(arguments, error):
    """Raises error naming the Debian package that provides whatever is missing."""
    if arguments.firmware == "uboot":
        qemu, _, firmware, _ = UBOOT[arguments.arch]
        needs = [(firmware, UBOOT_PACKAGE)]
        if shutil.which("mkimage") is None:
            raise error(f"mkimage not found: install the Debian package {MKIMAGE_PACKAGE}")
    elif arguments.firmware == "uefi":
        qemu = arguments.platform.qemu
        needs = [(path, arguments.platform.firmware_package)
                 for path in (arguments.ovmf_code, arguments.ovmf_vars)]
    else:
        qemu = "qemu-system-x86_64"
        needs = [(SECURE_BOOT_CODE, "ovmf"), (SECURE_BOOT_VARS, "ovmf")]
    if shutil.which(qemu) is None:
        raise error(f"{qemu} not found: install the Debian package "
                    f"{arguments.platform.qemu_package}")
    for path, package in needs:
        if not os.path.isfile(path):
            raise error(f"{path} not found: install the Debian package {package}")
    for image in arguments.image + [arguments.chain_loader or arguments.image[0]]:
        if not os.path.isfile(image):
            raise error(f"image {image} not found: build it first")


# PE offsets: of the PE header's offset in the DOS header; in the PE header, of the optional
# header's size and of the optional header (after the signature and the file header); in a
# section header, of its data's file offset.
DOS_PE_HEADER_OFFSET = 0x3C
PE_OPTIONAL_HEADER_SIZE = 20
PE_OPTIONAL_HEADER = 24
SECTION_RAW_DATA_OFFSET = 20


def little_endian(data, offset, size):
    return int.from_bytes(data[offset:offset + size], "little")


def tamper(path):
    """Inverts the first byte of the image's first section, which the signature's hash covers."""
    with open(path, "r+b") as image:
        data = bytearray(image.read())
        header = little_endian(data, DOS_PE_HEADER_OFFSET, 4)
        section = (header + PE_OPTIONAL_HEADER
                   + little_endian(data, header + PE_OPTIONAL_HEADER_SIZE, 2))
        data[little_endian(data, section + SECTION_RAW_DATA_OFFSET, 4)] ^= 0xFF
        image.seek(0)
        image.write(data)


def prepare_folder(directory, arguments):
    """The drive's files: the chain-loader at the removable-media path and the images in
    \\EFI\\rbar, or the one image at the removable-media path."""
    folder = os.path.join(directory, "drive")
    boot = os.path.join(folder, *REMOVABLE_MEDIA_PATH[arguments.arch])
    os.makedirs(os.path.dirname(boot))
    if arguments.chain_loader is None:
        shutil.copyfile(arguments.image[0], boot)
        if arguments.tamper_last:
            tamper(boot)
        return folder
    shutil.copyfile(arguments.chain_loader, boot)
    images = os.path.join(folder, *IMAGE_FOLDER)
    os.makedirs(images)
    for number, image in enumerate(arguments.image, 1):
        shutil.copyfile(image, os.path.join(images, f"{number}.efi"))
    if arguments.tamper_last:
        tamper(os.path.join(images, f"{len(arguments.image)}.efi"))
    return folder


def uboot_command(arguments, folder, error):
    """Writes boot.scr into the folder; returns U-Boot's QEMU command."""
    qemu, machine, firmware, mkimage_arch = UBOOT[arguments.arch]
    loader = "/".join(REMOVABLE_MEDIA_PATH[arguments.arch])
    lines = []
    if arguments.load_options:
        lines.append(f"setenv bootargs {arguments.load_options}")
    lines += ["load ${devtype} ${devnum}:${distro_bootpart} ${kernel_addr_r} /" + loader,
              "bootefi ${kernel_addr_r}", f"echo {UBOOT_RETURNED}", "reset"]
    script = os.path.join(os.path.dirname(folder), "boot.cmd")
    with open(script, "w", encoding="ascii") as text:
        text.write("\n".join(lines) + "\n")
    made = subprocess.run(["mkimage", "-A", mkimage_arch, "-T", "script", "-C", "none", "-d",
                           script, os.path.join(folder, "boot.scr")],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    if made.returncode != 0:
        raise error("mkimage failed: " + made.stdout.decode("utf-8", "replace"))
    return [qemu, *machine, "-display", "none", "-no-reboot", "-serial", "stdio", "-monitor",
            "none", "-net", "none", "-bios", firmware,
            "-drive", f"if=virtio,format=raw,file=fat:rw:{folder}"]


def secure_boot_command(directory, folder, error):
    """Makes the USB stick image of the folder; returns OVMF's QEMU command."""
    stick = os.path.join(directory, "stick.img")
    try:
        firmware_disk.make_folder_disk(stick, folder)
    except RuntimeError as failure:
        raise error(str(failure)) from failure
    variables = os.path.join(directory, "OVMF_VARS.fd")
    shutil.copyfile(SECURE_BOOT_VARS, variables)
    return ["qemu-system-x86_64", *SECURE_BOOT_MACHINE, "-nographic", "-no-reboot", "-net",
            "none", "-serial", "mon:stdio",
            "-drive", f"if=pflash,format=raw,readonly=on,file={SECURE_BOOT_CODE}",
            "-drive", f"if=pflash,format=raw,file={variables}",
            *USB_STICK, "-drive", f"if=none,id=stick,format=raw,file={stick}"]


def uefi_command(arguments, directory, folder, error):
    """Makes the USB stick image of the folder; returns the --arch machine's QEMU command with
    its own firmware."""
    stick = os.path.join(directory, "stick.img")
    try:
        firmware_disk.make_folder_disk(stick, folder)
    except RuntimeError as failure:
        raise error(str(failure)) from failure
    variables = os.path.join(directory, "VARS.fd")
    shutil.copyfile(arguments.ovmf_vars, variables)
    platform = arguments.platform
    return [platform.qemu, *platform.machine, "-nographic", "-no-reboot", "-net", "none",
            "-serial", "mon:stdio",
            "-drive", f"if=pflash,format=raw,readonly=on,file={arguments.ovmf_code}",
            "-drive", f"if=pflash,format=raw,file={variables}",
            *USB_STICK, "-drive", f"if=none,id=stick,format=raw,file={stick}"]


def key_plan(runner, arguments):
    """The runner's key plan, which also quits QEMU once the boot manager has nothing left to
    boot when the stick holds the image itself."""
    quit_at = NOTHING_LEFT if arguments.chain_loader is None else None

    class Plan(runner.KeyPlan):
        quit_sent = False

        def keys_for(self, console):
            keys = super().keys_for(console)
            if quit_at is not None and not self.quit_sent and quit_at in console:
                self.quit_sent = True
                keys += QEMU_QUIT
            return keys

    if arguments.boot_wait is not None:
        return Plan(boot_key_at=runner.WAIT_LINE_BYTES, boot_key_delay=arguments.boot_wait)
    return Plan(boot_key_at=runner.BOOT_COUNTDOWN if arguments.boot_image else None)


def chain_steps(text, error):
    """The chain-loader's lines in order: (match, digit, step, status); checks it finished."""
    steps = [(found, int(found.group(2)), found.group(3), found.group(4))
             for found in CHAIN_LINE.finditer(text)]
    if not steps:
        raise error("the chain-loader printed no result")
    if CHAIN_DONE not in text:
        raise error("the chain-loader did not finish")
    return steps


def check_chain(arguments, text, error):
    """Checks each image's statuses; returns (the last image's LoadImage line, its StartImage
    line or None)."""
    steps = chain_steps(text, error)
    last = len(arguments.image)
    wanted = []
    for digit in range(1, last + 1):
        loads = SUCCESS if digit < last else arguments.expect_load
        starts = BOOT_IMAGE_STATUS if digit == last and arguments.boot_image else SUCCESS
        wanted.append((digit, "LoadImage", loads))
        if loads == SUCCESS:
            wanted.append((digit, "StartImage", starts))
    wanted.append((last + 1, "LoadImage", "Not Found"))
    got = [(digit, step, status) for _, digit, step, status in steps]
    if got != wanted:
        raise error(f"chain-loader results {got}, expected {wanted}")
    loaded = steps[wanted.index((last, "LoadImage", arguments.expect_load))][0]
    if arguments.expect_load == SUCCESS:
        return loaded, steps[wanted.index((last, "LoadImage", arguments.expect_load)) + 1][0]
    following = steps[-1][0]
    if following.start() != loaded.end():
        raise error("the console shows more between the refused image and the next one: "
                    f"{text[loaded.end():following.start()]!r}")
    return loaded, None


def report_of(runner, body, error):
    """The CR LF lines of what an image printed."""
    lines = body.split(runner.LINE_END)
    if lines.pop():
        raise error(f"report line not ended by CR LF: {lines!r}")
    return lines


def check_boot_image(runner, arguments, body, error):
    """Splits what the boot image printed into its report and count, and checks its
    countdown: ticks down from where it began, ended by the runner's key before 1."""
    count = runner.COUNT_LINE.search(body)
    if count is None:
        raise error(f"the boot image printed no count line: {body[-300:]!r}")
    countdown = body[runner.summary_end(body, count):]
    # Started from a stick, it names the report file it saved (or why it could not).
    saved = runner.SAVE_LINE.match(countdown)
    if saved is not None:
        countdown = countdown[saved.end():]
    if arguments.boot_wait is not None:
        if countdown != runner.WAIT_LINE + runner.LINE_END:
            raise error(f"no wait line after the count line and summary: {countdown!r}")
        shown = ", waited for the key"
    elif countdown:
        if not countdown.endswith(runner.LINE_END):
            raise error(f"the countdown line is not ended: {countdown!r}")
        line = countdown[:-len(runner.LINE_END)]
        ticks = [int(tick) for tick in runner.COUNTDOWN_TICK.findall(line)]
        if runner.COUNTDOWN_TICK.sub("", line) or not ticks:
            raise error(f"more than a countdown after the count line: {line!r}")
        if ticks != list(range(ticks[0], ticks[0] - len(ticks), -1)) or ticks[-1] == 1:
            raise error(f"the countdown was not ended by the key: ticks {ticks}")
        shown = f", countdown {ticks[0]}..{ticks[-1]} ended by a key"
    elif arguments.expect_countdown:
        raise error("the boot image showed no countdown")
    else:
        shown = ", no countdown"
    return body[:count.start()], int(count.group(1)), shown


def check_expected(runner, arguments, lines):
    if arguments.expect_empty:
        runner.check_report(lines, [])
    elif arguments.expect or arguments.expect_annotated:
        runner.check_report(lines, runner.expected_lines(arguments.expect)
                            + runner.firmware_usb.expected_annotated(arguments, runner.RunError))


def check_stick(arguments, text, error):
    """The stick held the image itself: the boot manager must have failed to load it with the
    expected status and never started it."""
    failed = STICK_FAILED.search(text)
    if failed is None or STICK_STARTED.search(text):
        raise error("the boot manager did not refuse the stick's image")
    if failed.group(1) != arguments.expect_load:
        raise error(f"the stick's image failed with {failed.group(1)}, "
                    f"{arguments.expect_load} expected")
    return f"the boot manager said: {failed.group(0).strip()}"


def check_run(runner, arguments, console, keys, error):
    """Checks a finished run; returns the PASS message's details."""
    text = runner.strip_escapes(console).decode("utf-8", "replace")
    if arguments.firmware == "uboot":
        text = UBOOT_LINE_END.sub("\r\n", text)
        if UBOOT_RETURNED in text:
            raise error("the chain-loader returned instead of resetting the machine")
    for pattern in arguments.expect_console:
        if re.search(pattern, text) is None:
            raise error(f"the console never matched {pattern!r}")
    if arguments.chain_loader is None:
        return check_stick(arguments, text, error)
    loaded, started = check_chain(arguments, text, error)
    name = os.path.basename(arguments.image[-1])
    if started is None:
        return f"{name} refused: LoadImage {arguments.expect_load}, nothing of it shown"
    body = text[loaded.end():started.start()]
    shown = ""
    if arguments.boot_image:
        body, found, shown = check_boot_image(runner, arguments, body, error)
        if (arguments.expect_rebar_functions is not None
                and found != arguments.expect_rebar_functions):
            raise error(f"count line gives {found} functions with a Resizable BAR, "
                        f"{arguments.expect_rebar_functions} expected")
        shown = f", {found} functions counted{shown}"
    lines = report_of(runner, body, error)
    if arguments.boot_image:
        facts, lines = runner.split_boot_screen(lines)
        runner.check_facts(arguments, facts)
    check_expected(runner, arguments, lines)
    first = arrival(console, keys, rb"chain-load: ")
    begun = arrival(console, keys, chain_line_bytes(len(arguments.image), "LoadImage"))
    ended = arrival(console, keys, chain_line_bytes(len(arguments.image), "StartImage"))
    if arguments.boot_wait is not None:
        waited = arrival(console, keys, re.escape(runner.WAIT_LINE_BYTES))
        if keys.key_sent_at is None or ended < keys.key_sent_at:
            raise error(f"the image returned {ended - waited:.1f} s after its wait line, before "
                        "the key")
        shown += f" {keys.key_sent_at - waited:.1f} s, returned after it"
    return (f"{name} {started.group(4)}, {len(lines)} report lines{shown}; first chain-loader "
            f"line after {first:.1f} s, the image ran {ended - begun:.2f} s")


def chain_line_bytes(digit, step):
    return rb"chain-load: \\EFI\\rbar\\" + str(digit).encode("ascii") + rb"\.efi " + \
        step.encode("ascii")


def arrival(console, keys, pattern):
    """When the first match of the byte pattern reached the console, in seconds from QEMU's
    start."""
    return keys.arrived(re.search(pattern, console).start())


def run(arguments, runner):
    """A whole --firmware run; prints the result and returns the exit status."""
    try:
        check_platform(arguments, runner.RunError)
        with tempfile.TemporaryDirectory(prefix="run-firmware-") as directory:
            folder = prepare_folder(directory, arguments)
            if arguments.firmware == "uboot":
                command = uboot_command(arguments, folder, runner.RunError)
            elif arguments.firmware == "uefi":
                command = uefi_command(arguments, directory, folder, runner.RunError)
            else:
                command = secure_boot_command(directory, folder, runner.RunError)
            keys = key_plan(runner, arguments)
            console, seconds, failure = runner.run_qemu(command, arguments.timeout,
                                                        arguments.show, keys)
        if arguments.log:
            with open(arguments.log, "wb") as log:
                log.write(console)
        text = runner.strip_escapes(console).decode("utf-8", "replace")
        try:
            if failure is not None:
                raise runner.RunError(failure)
            details = check_run(runner, arguments, console, keys, runner.RunError)
        except runner.RunError as error:
            raise runner.RunError(f"{error}\n--- console ---\n{runner.console_tail(text)}") \
                from error
    except runner.RunError as error:
        print(f"run-firmware: FAIL: {error}", file=sys.stderr)
        return 1
    print(f"run-firmware: PASS: {arguments.firmware} ({arguments.arch}): {details}; QEMU "
          f"ended after {seconds:.1f} s")
    return 0
