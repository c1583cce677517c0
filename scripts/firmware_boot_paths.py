"""Boot paths to the boot image without the UEFI Shell, each run as one or more QEMU boots with
OVMF on one variable store and one disk:

- grub: the menu entry of tools/boot/20_rbar-survey, made with grub-common's library, in a
  standalone GRUB on the disk's removable-media path. Its configuration first starts the fixture
  bridges (a boot-service driver stays loaded after GRUB starts it), boots the entry, and falls
  back to the next entry, which proves GRUB has control again and must start clean: no error
  left over from the boot image and no prompt for a key.
- systemd-boot: systemd-bootx64.efi on the removable-media path with the loader entry that
  rbar-survey-boot writes in a Linux guest (first boot); systemd-boot loads the fixture bridges
  from \\EFI\\systemd\\drivers and boots the entry (second boot).
- linux-once, linux-always, linux-remove: rbar-survey-boot run in a Linux guest
  (firmware_linux_guest), the fixture bridges a driver option the guest makes with efibootmgr.
- secure-once: rbar-survey-boot once in the guest under Secure Boot with Microsoft's keys
  (firmware_secure_guest), its test MOK enrolled through MokManager; the firmware loads no
  unsigned fixture there, so the image reports OVMF's own bridge: no function.

A boot that shows the boot image must print exactly the expected (annotated) report, then its
count line, once; the runner presses a key once the count line shows (and again while the image
has not returned, whatever mode it waits in), and the boot loader or firmware must then have
control again.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time

import firmware_disk
import firmware_usb
import firmware_linux_guest as guest
import firmware_secure_guest as secure

PATHS = ("grub", "systemd-boot", "linux-once", "linux-always", "linux-remove", "secure-once")

GRUB_MODULES = ("normal chain part_gpt part_msdos fat search search_fs_uuid search_fs_file "
                "search_label echo halt reboot configfile test")
GRUB_BACK = "rbar-grub: GRUB has control again"
# What GRUB shows when a chainloaded image leaves an error behind: its message, and the prompt
# for a key before it goes on.
GRUB_LEFTOVER = r"error: |Press any key to continue\.\.\."
FIXTURE_FOLDER = "EFI/fixture"
# The boot image's count line (as run-firmware.py reads it).
COUNT_PATTERN = (r"rbar-survey [0-9][^:\r\n]*: \d+ root bridges?, \d+ functions? scanned, "
                 r"(\d+) with Resizable BAR\r\n")
COUNT_LINE = re.compile(COUNT_PATTERN)
COUNT_BYTES = re.compile(COUNT_PATTERN.encode("ascii"))
# Seconds between keys while the boot image has not returned.
KEY_REPEAT = 1.5


class Check(Exception):
    """A failed check, with its message."""


def boot_image_name(arguments):
    return os.path.basename(arguments.boot_option)


# --- What each boot must show --------------------------------------------------------------

class Boot:
    """One QEMU run: the guest's step (None: no guest), whether the boot image shows, the line
    after which its report starts, the line that proves control came back after it, and what
    must not show between the two."""

    def __init__(self, step=None, shows=False, start=None, back=None, keys=None, report=None,
                 leftover=None):
        self.step = step
        self.shows = shows
        self.start = start
        self.back = back
        self.leftover = leftover
        # A key plan for the boot, made from the runner; the report's lines when not the
        # expected report's.
        self.keys = keys
        self.report = report


def firmware_started(label):
    return rf'BdsDxe: starting Boot[0-9A-F]{{4}} "{label}" from [^\r]*\r\n'


def firmware_back(label):
    return rf'BdsDxe: failed to start Boot[0-9A-F]{{4}} "{label}" from [^\r]*: Aborted\r\n'


OWN_OPTION = "rbar-survey(?: once)?"
SHOWN_BY_FIRMWARE = {"start": firmware_started(OWN_OPTION), "back": firmware_back(OWN_OPTION)}

# Guest steps (run with sh -eux). The fixture bridges as a driver option, loaded at every boot
# before the boot options.
ADD_FIXTURE = ("efibootmgr --driver --create --disk /dev/vda --part 1 --label fixture "
               "--loader '\\EFI\\fixture\\FixtureBridges.efi'\n")
ENTRY = "/boot/efi/loader/entries/rbar-survey.conf"
# own LABEL: the number of rbar-survey-boot's option of that label, as its status names it.
OWN_NUMBER = r"""own() {
  rbar-survey-boot status | sed -n "s/^boot option: Boot\([0-9A-F]*\) \"$1\".*/\1/p"
}
"""

LINUX_BOOTS = {
    # The option runs at the next boot only, in wait mode; the loader entry is written too.
    "linux-once": [
        Boot(ADD_FIXTURE + OWN_NUMBER + """rbar-survey-boot once
efibootmgr | grep -x "BootNext: $(own 'rbar-survey once')"
rbar-survey-boot status
grep -x 'options wait' """ + ENTRY + "\n"),
        Boot(OWN_NUMBER + """! efibootmgr | grep '^BootNext'
[ -n "$(own 'rbar-survey once')" ]
""", shows=True, **SHOWN_BY_FIRMWARE),
        Boot("rbar-survey-boot status\n"),
    ],
    # First in BootOrder, counting down: at each boot.
    "linux-always": [
        Boot(ADD_FIXTURE + OWN_NUMBER + """rbar-survey-boot always
efibootmgr | grep "^BootOrder: $(own rbar-survey)"
"""),
        Boot("rbar-survey-boot status\n", shows=True, **SHOWN_BY_FIRMWARE),
        Boot("true\n", shows=True, **SHOWN_BY_FIRMWARE),
    ],
    # Both kinds made, then removed: the firmware's options are as before, to the byte, and so
    # are the ESP's other files; the next boot shows nothing and keeps the other options.
    "linux-remove": [
        Boot(ADD_FIXTURE + """efibootmgr --create-only --disk /dev/vda --part 1 --label other \
--loader '\\EFI\\other\\other.efi'
efibootmgr -v >/tmp/before
rbar-survey-boot once
rbar-survey-boot always
rbar-survey-boot remove
efibootmgr -v >/tmp/after
diff /tmp/before /tmp/after
[ ! -e /boot/efi/EFI/rbar-survey ]
[ ! -e """ + ENTRY + """ ]
[ -f /boot/efi/EFI/fixture/FixtureBridges.efi ]
[ -f /boot/efi/loader/entries/debian.conf ]
rbar-survey-boot status | grep -x 'boot option: none'
"""),
        Boot("""efibootmgr | grep '^Boot[0-9A-F]\\{4\\}\\* other$'
efibootmgr --driver | grep '^Driver[0-9A-F]\\{4\\}\\* fixture$'
"""),
    ],
}

SYSTEMD_BOOT = "/usr/lib/systemd/boot/efi/systemd-bootx64.efi"
# systemd-boot's loader configuration on the test disk: no menu, the entry rbar-survey-boot
# writes as the default.
LOADER_CONF = "timeout 0\ndefault rbar-survey.conf\n"
# systemd-boot's entry for the guest, booted while the default entry is missing.
SYSTEMD_BOOT_GUEST = (f"title Debian\nlinux /{guest.KERNEL_FILE}\ninitrd /{guest.INITRD_FILE}\n"
                      "options console=ttyS0 panic=-1 quiet rbar_step=1\n")
# The loader's own entry that remove must leave alone.
OTHER_ENTRY = "title Debian\nlinux /vmlinuz\n"


# --- Running the boots ---------------------------------------------------------------------

def report_keys(runner, back):
    """The runner's key plan (the shell's countdowns answered) plus a key once a count line
    shows, repeated until the line that proves control came back follows the last one."""

    class ReportKeys(runner.KeyPlan):
        def __init__(self):
            super().__init__(every_countdown=True)
            self.last_key = 0.0

        def keys_for(self, console):
            keys = super().keys_for(console)
            counts = list(COUNT_BYTES.finditer(console))
            if not counts or back is None:
                return keys
            count = counts[-1]
            if re.search(back.encode("ascii"), console[count.end():]):
                return keys
            now = time.monotonic()
            if now - self.last_key >= KEY_REPEAT:
                self.last_key = now
                keys += runner.SKIP_KEY
            return keys

    return ReportKeys()


def qemu_base(arguments, variables, disk):
    platform = arguments.platform
    return [platform.qemu, *platform.machine, "-nographic", "-no-reboot", "-net", "none",
            "-serial", "mon:stdio",
            "-drive", f"if=pflash,format=raw,readonly=on,file={arguments.ovmf_code}",
            "-drive", f"if=pflash,format=raw,file={variables}",
            *guest.disk_arguments(disk), *arguments.qemu_arg]


def check_boot(runner, arguments, boot, number, text):
    """Checks one boot's console (escape codes removed); returns a summary."""
    if boot.step is not None:
        if guest.passed_marker(number) not in text:
            raise Check(f"boot {number}: the guest's step did not pass")
    count = COUNT_LINE.search(text)
    if not boot.shows:
        if count is not None or re.search(firmware_started(OWN_OPTION), text):
            raise Check(f"boot {number}: the boot image ran, but should not have")
        return f"boot {number}: no report"
    start = re.search(boot.start, text)
    if start is None or count is None or count.start() < start.end():
        raise Check(f"boot {number}: the boot image did not show its report")
    if len(COUNT_LINE.findall(text)) != 1:
        raise Check(f"boot {number}: the boot image ran more than once")
    report = text[start.end():count.start()].split("\r\n")
    if report.pop():
        raise Check(f"boot {number}: report line not ended by CR LF: {report!r}")
    facts, report = runner.split_boot_screen(report)
    runner.check_facts(arguments, facts)
    expected = boot.report if boot.report is not None else (
        runner.expected_lines(arguments.expect)
        + firmware_usb.expected_annotated(arguments, runner.RunError))
    runner.check_report(report, expected)
    found = int(count.group(1))
    functions = arguments.expect_rebar_functions if boot.report is None else 0
    if functions is not None and found != functions:
        raise Check(f"boot {number}: count line gives {found} functions, {functions} expected")
    back = re.search(boot.back, text[count.end():])
    if back is None:
        raise Check(f"boot {number}: control did not come back after the boot image")
    leftover = boot.leftover and re.search(boot.leftover, text[count.end():][:back.start()])
    if leftover:
        raise Check(f"boot {number}: {leftover.group(0)!r} shows before the next entry")
    return f"boot {number}: {len(report)} report lines, {found} functions, then control back"


def run_boots(runner, arguments, work, disk, boots, cache=None):
    """Runs the boots in order on one variable store and disk; prints a line per boot. With the
    Secure Boot guest's cache, under Secure Boot: GRUB's configuration starts each step."""
    variables = os.path.join(work, "OVMF_VARS.fd")
    shutil.copyfile(arguments.ovmf_vars, variables)
    command = qemu_base(arguments, variables, disk)
    steps = {number: boot.step for number, boot in enumerate(boots, 1) if boot.step is not None}
    if steps:
        kernel, base_cpio = guest.guest_base(arguments.guest_cache)
        initrd = os.path.join(work, "initrd.cpio")
        guest.make_initrd(base_cpio, initrd, work, arguments.tool,
                          [arguments.boot_option], steps)
        if cache is not None:
            secure.add_to_initrd(initrd, cache, work)
        firmware_disk.add_files(disk, {guest.KERNEL_FILE: kernel, guest.INITRD_FILE: initrd})
    logs = []
    total = 0.0
    for number, boot in enumerate(boots, 1):
        step = number if boot.step is not None else None
        if cache is None:
            start = {"startup.nsh": write_text(work, "startup.nsh", guest.shell_script(step))}
        else:
            start = {"EFI/debian/grub.cfg": write_text(work, "grub.cfg", secure.grub_config(step))}
        firmware_disk.add_files(disk, start)
        keys = boot.keys(runner) if boot.keys else report_keys(runner, boot.back)
        console, seconds, failure = runner.run_qemu(command, arguments.timeout, arguments.show,
                                                    keys)
        total += seconds
        logs.append(console)
        text = runner.strip_escapes(console).decode("utf-8", "replace")
        try:
            if failure is not None:
                raise Check(f"boot {number}: {failure}")
            summary = check_boot(runner, arguments, boot, number, text)
        except (Check, runner.RunError) as error:
            write_log(arguments, logs)
            raise runner.RunError(f"{error}\n--- console ---\n{runner.console_tail(text)}")
        print(f"run-firmware: {summary} ({seconds:.1f} s)")
    write_log(arguments, logs)
    return total


def write_log(arguments, logs):
    if arguments.log:
        with open(arguments.log, "wb") as log:
            log.write(b"\n=== next boot ===\n".join(logs))


# --- The paths -------------------------------------------------------------------------------

FAKE_GRUB_PROBE = """#!/bin/sh
# Answers grub-mkconfig_lib's questions about the test disk's partition.
case "$*" in
  *--target=partmap) echo gpt ;;
  *--target=fs) echo fat ;;
  *--target=fs_uuid) echo {serial} ;;
esac
"""


def grub_entry(arguments, work):
    """What tools/boot/20_rbar-survey prints for a UEFI system whose /boot is the test disk's
    partition (grub-probe answered by a stand-in); also checks that it prints nothing without
    UEFI or when turned off."""
    root = os.path.join(work, "root")
    os.makedirs(os.path.join(root, "boot/rbar-survey"))
    shutil.copyfile(arguments.boot_option,
                    os.path.join(root, "boot/rbar-survey", boot_image_name(arguments)))
    probe = os.path.join(work, "grub-probe")
    with open(probe, "w", encoding="ascii") as file:
        file.write(FAKE_GRUB_PROBE.replace("{serial}", firmware_disk.VOLUME_SERIAL))
    os.chmod(probe, 0o755)

    def entry():
        done = subprocess.run(["sh", arguments.tool], capture_output=True, text=True, check=False,
                              env=dict(os.environ, RBAR_SURVEY_GRUB_ROOT=root,
                                       GRUB_DEVICE_BOOT="/dev/rbar-test", grub_probe=probe))
        if done.returncode != 0:
            raise Check(f"{arguments.tool} failed: {done.stderr}")
        return done.stdout

    if entry():
        raise Check("the GRUB script made an entry on a machine not booted in UEFI mode")
    os.makedirs(os.path.join(root, "sys/firmware/efi"))
    made = entry()
    os.makedirs(os.path.join(root, "etc/default"))
    with open(os.path.join(root, "etc/default/grub"), "w", encoding="ascii") as config:
        config.write("GRUB_DISABLE_RBAR_SURVEY=true\n")
    if entry():
        raise Check("GRUB_DISABLE_RBAR_SURVEY=true did not turn the GRUB entry off")
    if "chainloader /boot/rbar-survey/" not in made:
        raise Check(f"the GRUB entry does not chainload the image:\n{made}")
    return made


def run_grub(runner, arguments, work):
    fixture = os.path.basename(arguments.driver_option[0])
    made = grub_entry(arguments, work)
    config = write_text(work, "grub.cfg", f"""set timeout=0
set default=0
set fallback=1
insmod part_gpt
insmod fat
insmod chain
search --no-floppy --fs-uuid --set=root {firmware_disk.VOLUME_SERIAL}
chainloader /{FIXTURE_FOLDER}/{fixture}
boot
{made}menuentry 'after the report' {{
\techo "{GRUB_BACK}"
\thalt
}}
""")
    loader = os.path.join(work, "grubx64.efi")
    run_command(["grub-mkstandalone", "-O", "x86_64-efi", "-o", loader,
                 f"--install-modules={GRUB_MODULES}", "--locales=", "--fonts=", "--themes=",
                 f"boot/grub/grub.cfg={config}"])
    disk = os.path.join(work, "disk.img")
    firmware_disk.make_esp_disk(disk, {
        "EFI/BOOT/BOOTX64.EFI": loader,
        f"{FIXTURE_FOLDER}/{fixture}": arguments.driver_option[0],
        f"boot/rbar-survey/{boot_image_name(arguments)}": arguments.boot_option,
    })
    # GRUB names the image it chainloads in a "file path:" line ending with its file.
    start = rf"/File\({re.escape(boot_image_name(arguments))}\)/EndEntire\n\r"
    return run_boots(runner, arguments, work, disk,
                     [Boot(shows=True, start=start, back=re.escape(GRUB_BACK),
                           leftover=GRUB_LEFTOVER)])


def run_systemd_boot(runner, arguments, work):
    files = {
        "EFI/BOOT/BOOTX64.EFI": SYSTEMD_BOOT,
        # systemd-boot loads the drivers of this folder whose names end with its processor's.
        "EFI/systemd/drivers/fixturex64.efi": arguments.driver_option[0],
        "loader/loader.conf": write_text(work, "loader.conf", LOADER_CONF),
        # Linux for the first boot, before the entry is there.
        "loader/entries/debian.conf": write_text(work, "debian.conf", SYSTEMD_BOOT_GUEST),
    }
    disk = os.path.join(work, "disk.img")
    firmware_disk.make_esp_disk(disk, files)
    boots = [
        # The entry as rbar-survey-boot writes it; BootNext is taken away again so that the
        # next boot reaches it through systemd-boot.
        Boot("rbar-survey-boot once\nefibootmgr --delete-bootnext\n"
             f"grep -x 'options wait' {ENTRY}\n"),
        Boot(shows=True, start=r'BdsDxe: starting Boot[0-9A-F]{4} "UEFI Misc Device" from '
                               r'[^\r]*\r\n',
             back=r"Failed to execute Resizable BAR report \(rbar-survey\) "
                  r"\(\\EFI\\rbar-survey\\[^)]*\): Aborted"),
    ]
    return run_boots(runner, arguments, work, disk, boots)


def run_linux(runner, arguments, work):
    files = {
        f"{FIXTURE_FOLDER}/FixtureBridges.efi": arguments.driver_option[0],
        "loader/loader.conf": write_text(work, "loader.conf", LOADER_CONF),
        "loader/entries/debian.conf": write_text(work, "debian.conf", OTHER_ENTRY),
    }
    disk = os.path.join(work, "disk.img")
    firmware_disk.make_esp_disk(disk, files)
    return run_boots(runner, arguments, work, disk, LINUX_BOOTS[arguments.path])


# Under Secure Boot: the MOK request and a refusal without a key; its enrolment; always, status
# and remove through shim; once, whose next boot shows the report, GRUB then powering off.
SECURE_BOOTS = [
    Boot("""mokutil --sb-state | grep -x 'SecureBoot enabled'
mv /var/lib/dkms /var/lib/dkms.away
status=0
rbar-survey-boot once 2>/tmp/refused || status=$?
[ "$status" -eq 2 ]
grep -F 'mokutil --import' /tmp/refused
[ ! -e /boot/efi/EFI/rbar-survey ]
mv /var/lib/dkms.away /var/lib/dkms
mokutil --generate-hash=""" + secure.MOK_PASSWORD + """ >/tmp/hash
mokutil --import /var/lib/dkms/mok.pub --hash-file /tmp/hash
"""),
    Boot(keys=secure.mok_enroll_keys),
    Boot(OWN_NUMBER + """mokutil --test-key /var/lib/dkms/mok.pub | grep 'already enrolled'
efibootmgr -v >/tmp/before
rbar-survey-boot always
rbar-survey-boot status | grep -x 'Secure Boot: on'
rbar-survey-boot status | grep '"rbar-survey" (at every boot, through shim)$'
rbar-survey-boot remove
efibootmgr -v >/tmp/after
diff /tmp/before /tmp/after
rbar-survey-boot once 2>/tmp/warnings
[ ! -s /tmp/warnings ]
efibootmgr | grep -x "BootNext: $(own 'rbar-survey once')"
efibootmgr -v | grep -F 'File(\\EFI\\debian\\shimx64.efi)\\.E.F.I.\\.r.b.a.r.-.s.u.r.v.e.y.\\.R'
openssl x509 -inform der -in /var/lib/dkms/mok.pub -out /tmp/mok.pem
sbverify --cert /tmp/mok.pem /boot/efi/EFI/rbar-survey/RbarSurveyBoot.efi
[ -z "$(find /tmp -name 'tmp.*')" ]
"""),
    # Shim hands the image `wait`: it asks for a key.
    Boot(shows=True, report=[], start=SHOWN_BY_FIRMWARE["start"],
         back=r"Press any key to continue booting\.[\s\S]*" + firmware_back(OWN_OPTION)),
]


def run_secure(runner, arguments, work):
    cache = secure.secure_base(arguments.guest_cache)
    arguments.ovmf_code, arguments.ovmf_vars = secure.FIRMWARE_CODE, secure.FIRMWARE_VARS
    arguments.qemu_arg = arguments.qemu_arg + secure.QEMU_ARGUMENTS
    disk = os.path.join(work, "disk.img")
    firmware_disk.make_esp_disk(disk, secure.disk_files(cache))
    return run_boots(runner, arguments, work, disk, SECURE_BOOTS, cache)


def write_text(work, name, text):
    path = os.path.join(work, name)
    with open(path, "w", encoding="ascii") as file:
        file.write(text)
    return path


def run_command(command):
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise Check(f"{' '.join(command)} failed: {done.stderr.strip()}")


def add_arguments(parser):
    parser.add_argument("--path", choices=PATHS,
                        help="boot path to the --boot-option image without the shell, behind "
                             "the --driver-option fixture (see firmware_boot_paths.py)")
    parser.add_argument("--tool", metavar="FILE",
                        help="with --path: the GRUB script (grub) or rbar-survey-boot (others)")
    parser.add_argument("--guest-cache", metavar="DIR",
                        help="with a Linux guest path: where the guest's kernel and base "
                             "initramfs are kept (default: ~/.cache/rbar-survey/linux-guest)")


def run_path(runner, arguments):
    """Runs the --path boots; prints the figures and returns 0, or raises runner.RunError."""
    if not arguments.tool or not arguments.boot_option or len(arguments.driver_option) != 1:
        raise runner.RunError("--path needs --tool, --boot-option and one --driver-option")
    with tempfile.TemporaryDirectory(prefix="run-firmware-") as work:
        try:
            if arguments.path == "grub":
                seconds = run_grub(runner, arguments, work)
            elif arguments.path == "systemd-boot":
                seconds = run_systemd_boot(runner, arguments, work)
            elif arguments.path == "secure-once":
                seconds = run_secure(runner, arguments, work)
            else:
                seconds = run_linux(runner, arguments, work)
        except (Check, RuntimeError, OSError) as error:
            raise runner.RunError(str(error)) from error
    print(f"run-firmware: PASS: {arguments.path}: QEMU ran {seconds:.1f} s in all")
    return 0
