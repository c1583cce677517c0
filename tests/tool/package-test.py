#!/usr/bin/env python3
"""Test of the Debian package, run by CTest: builds it with CPack from the build tree into a
scratch directory, lists its contents and control fields, extracts it, and runs the tool from
it. Exit 0 passes, 1 fails, 77 skips (dpkg-deb is missing).

The package must hold exactly the tool in /usr/bin, the driver and boot images of both
processors (the build's own, byte for byte) in /usr/lib/rbar-survey/efi, rbar-survey-boot, the
GRUB script (a conffile) and the maintainer scripts, the metrics script and its units, the
compressed manual pages, the copyright file, the changelog (its latest entry this version) and
the documents README.md points to; be of the architecture asked for, depend on libpci3,
recommend efibootmgr and suggest sbsigntool and mokutil; and draw no error or warning from
lintian (each tag it reports is listed). The extracted tool (through --runner, for another
processor's package) must print the project version and the report of a dump; every shell
script must be executable; rbar-survey-boot must print its usage and refuse to run for a user
other than root; the manual pages must render without warnings, name every option and command
of their program's --help and each other in SEE ALSO, and carry the version and the
changelog's date in their footer. Installed with dpkg into a scratch root (its maintainer scripts run outside a
chroot, with DPKG_ROOT), the postinst must put the boot image of the package's architecture in
that root's /boot/rbar-survey, removing must leave only the conffile, and purging must leave
the root as it was; nothing outside the scratch root changes.
"""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
# Files the package holds, below its root.
PACKAGE_FILES = [
    "etc/grub.d/20_rbar-survey",
    "usr/bin/rbar-survey",
    "usr/lib/rbar-survey/efi/RbarSurvey.efi",
    "usr/lib/rbar-survey/efi/RbarSurveyAA64.efi",
    "usr/lib/rbar-survey/efi/RbarSurveyBoot.efi",
    "usr/lib/rbar-survey/efi/RbarSurveyBootAA64.efi",
    "usr/sbin/rbar-survey-boot",
    "usr/share/doc/rbar-survey/copyright",
    "usr/share/man/man1/rbar-survey.1.gz",
    "usr/share/man/man8/rbar-survey-boot.8.gz",
]
# The documents README.md points to, shipped beside the copyright file.
DOCUMENTS = ["usr/share/doc/rbar-survey/%s.md" % name
             for name in ("explain", "json", "metrics", "secure-boot")]
TOOL = PACKAGE_FILES[1]
MANUAL = PACKAGE_FILES[8]
BOOT_TOOL = PACKAGE_FILES[6]
BOOT_MANUAL = PACKAGE_FILES[9]
EFI_IMAGES = [name for name in PACKAGE_FILES if name.endswith(".efi")]
SHELL_SCRIPTS = [PACKAGE_FILES[0], BOOT_TOOL]
MAINTAINER_SCRIPTS = ["postinst", "postrm"]
# The refusal of rbar-survey-boot for a user other than root.
NOT_ROOT_STATUS = 2
# The metrics on a timer: the script and its systemd units.
METRICS_FILES = [
    "usr/lib/systemd/system/rbar-survey-metrics.service",
    "usr/lib/systemd/system/rbar-survey-metrics.timer",
    "usr/libexec/rbar-survey/rbar-survey-metrics",
]
# The Debian changelog, compressed as Debian installs it.
CHANGELOG = "usr/share/doc/rbar-survey/changelog.gz"
# Control fields and the packages each must name.
CONTROL_FIELDS = {"Depends": ["libpci3"], "Suggests": ["sbsigntool", "mokutil"],
                  "Recommends": ["efibootmgr"]}
# The pages each manual page's SEE ALSO must name.
SEE_ALSO = {MANUAL: ["rbar-survey-boot (8)"], BOOT_MANUAL: ["rbar-survey (1)"]}
# A manual page's title line: its footer's date and source.
TITLE_LINE = re.compile(r'^\.TH \S+ \d "([^"]*)" "([^"]*)"', re.MULTILINE)
# The date of the changelog's latest entry, as its trailer line gives it.
CHANGELOG_DATE = re.compile(r"^ -- .*  \w{3}, (\d{2}) (\w{3}) (\d{4}) ", re.MULTILINE)
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
# Files of the scratch root before the install, which no step may change.
SCRATCH_ROOT_FILES = {"boot/vmlinuz": "kernel\n", "etc/grub.d/10_linux": "#!/bin/sh\n"}
# The boot image the postinst puts where GRUB's entry reads it, by package architecture.
GRUB_IMAGES = {"amd64": "RbarSurveyBoot.efi", "arm64": "RbarSurveyBootAA64.efi"}
# lintian's tag lines: severity, package, tag and its detail.
LINTIAN_TAG = re.compile(r"^([EWIPXOMC]): ([^ :]+)(?: [a-z]+)?: (\S+)(.*)$")


class Failure(Exception):
    pass


def run(arguments, cwd=None):
    """Runs a command; returns its standard output, or fails with its standard error."""
    done = subprocess.run(arguments, cwd=cwd, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise Failure("%s failed (status %d): %s" % (" ".join(arguments), done.returncode,
                                                     done.stderr + done.stdout))
    return done.stdout


def build_package(cpack, build, scratch):
    """Builds the package into scratch with the build tree's CPack configuration."""
    run([cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-B", scratch])
    packages = [name for name in os.listdir(scratch) if name.endswith(".deb")]
    if len(packages) != 1:
        raise Failure("CPack made %s, expected one .deb" % packages)
    return os.path.join(scratch, packages[0])


def check_contents(package):
    """The package's files against PACKAGE_FILES; prints the listing."""
    listing = run(["dpkg-deb", "-c", package])
    print(listing, end="")
    files = sorted(re.sub(r"^\./", "", line.split()[-1]) for line in listing.splitlines()
                   if not line.startswith("d"))
    expected = sorted(PACKAGE_FILES + METRICS_FILES + DOCUMENTS + [CHANGELOG])
    if files != expected:
        raise Failure("package files %s, expected %s" % (files, expected))


def check_control(package, version, architecture):
    fields = run(["dpkg-deb", "-f", package, "Package", "Version", "Architecture"] +
                 list(CONTROL_FIELDS))
    print(fields, end="")
    for field, value in (("Version", version), ("Architecture", architecture)):
        if "%s: %s\n" % (field, value) not in fields:
            raise Failure("the package's %s is not %s" % (field, value))
    for field, names in CONTROL_FIELDS.items():
        listed = re.search(r"^%s: (.*)$" % field, fields, re.MULTILINE)
        missing = [name for name in names
                   if not listed or not re.search(r"(^|, )%s\b" % name, listed.group(1))]
        if missing:
            raise Failure("the package's %s does not name %s" % (field, missing))


def check_lintian(package):
    """lintian on the package: every tag is listed; an error or a warning fails."""
    if shutil.which("lintian") is None:
        raise Failure("lintian is not installed (Debian package lintian)")
    done = subprocess.run(["lintian", package], capture_output=True, text=True, check=False)
    tags = [LINTIAN_TAG.match(line) for line in done.stdout.splitlines()]
    for tag in filter(None, tags):
        print("lintian %s: %s%s" % (tag.group(1), tag.group(3), tag.group(4)))
    faults = [tag.group(3) for tag in filter(None, tags) if tag.group(1) in "EW"]
    if faults:
        raise Failure("lintian reports %s" % " ".join(faults))
    if done.returncode != 0:
        raise Failure("lintian failed (status %d): %s" % (done.returncode, done.stderr))
    print("lintian: no error, no warning")


def check_changelog(root, version):
    """The changelog's latest entry is this version (lintian checks its compression); returns
    that entry's date as YYYY-MM-DD."""
    with gzip.open(os.path.join(root, CHANGELOG), "rt", encoding="utf-8") as file:
        text = file.read()
    entry = re.match(r"rbar-survey \(([^)]+)\) ", text)
    if not entry or entry.group(1) != version:
        raise Failure("the changelog's latest entry is not version %s" % version)
    day, month, year = CHANGELOG_DATE.search(text).groups()
    return "%s-%02d-%s" % (year, MONTHS.index(month) + 1, day)


def help_options(tool):
    """The long options that --help lists."""
    return sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", run(tool + ["--help"]))))


def check_manual(root, manual, tool, footer):
    """The page renders cleanly, describes every option of --help, names its SEE ALSO pages,
    and its footer gives footer: (date, "rbar-survey VERSION")."""
    with gzip.open(os.path.join(root, manual), "rt", encoding="utf-8") as file:
        page = file.read()
    title = TITLE_LINE.search(page)
    if not title or title.groups() != footer:
        raise Failure("%s's footer is %s, expected %s" %
                      (manual, title.groups() if title else None, footer))
    see_also = page.split(".SH SEE ALSO", 1)[-1].replace("\\-", "-")
    missing = [name for name in SEE_ALSO[manual]
               if ".BR %s" % name not in see_also]
    if missing:
        raise Failure("%s's SEE ALSO does not name %s" % (manual, missing))
    if shutil.which("groff"):
        done = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8"], input=page,
                              capture_output=True, text=True, check=False)
        if done.returncode != 0 or done.stderr:
            raise Failure("the manual page does not render cleanly: " + done.stderr)
    missing = [option for option in help_options(tool) if option.replace("-", r"\-") not in page]
    if missing:
        raise Failure("the manual page does not describe %s" % missing)


def check_extracted_tool(root, version, build, dump, expected, runner, footer):
    tool = runner + [os.path.join(root, TOOL)]
    shown = run(tool + ["--version"])
    if shown != "rbar-survey %s\n" % version:
        raise Failure("--version printed %r, expected version %s" % (shown, version))
    report = run(tool + ["--dump", dump])
    with open(expected, encoding="ascii") as file:
        if report != file.read():
            raise Failure("the packaged tool's report of %s differs from %s" % (dump, expected))
    for image in EFI_IMAGES:
        built = os.path.join(build, os.path.basename(image))
        with open(os.path.join(root, image), "rb") as packaged, open(built, "rb") as made:
            if packaged.read() != made.read():
                raise Failure("the packaged image %s differs from %s" % (image, built))
    check_manual(root, MANUAL, tool, footer)
    print("packaged tool: %s" % shown, end="")


# Command lines rbar-survey-boot refuses before anything else, each with its one message.
USAGE_STATUS = 2
BOOT_USAGE_FAULTS = [
    (["bogus"], 'rbar-survey-boot: "bogus" is not a command or option: once, always, remove or '
                'status (see --help)\n'),
    ([], "rbar-survey-boot: no command given: once, always, remove or status (see --help)\n"),
]


def check_boot_helpers(package, root, scratch, footer):
    """The shell scripts are executable (lint.shellcheck reads them); rbar-survey-boot's usage,
    its manual page and its refusal of a user other than root. The conffile list shows in
    check_install_remove: removing leaves exactly the conffiles."""
    control = os.path.join(scratch, "control")
    run(["dpkg-deb", "-e", package, control])
    for script in [os.path.join(root, name) for name in SHELL_SCRIPTS] + \
            [os.path.join(control, name) for name in MAINTAINER_SCRIPTS]:
        if not os.access(script, os.X_OK):
            raise Failure("%s is not executable" % script)
    tool = os.path.join(root, BOOT_TOOL)
    usage = run(["sh", tool, "--help"])
    with gzip.open(os.path.join(root, BOOT_MANUAL), "rt", encoding="utf-8") as file:
        page = file.read()
    commands = re.findall(r"^  ([a-z]+)  ", usage, re.MULTILINE)
    missing = [command for command in commands if ".B %s\n" % command not in page]
    if not commands or missing:
        raise Failure("the manual page of rbar-survey-boot does not describe %s" % missing)
    check_manual(root, BOOT_MANUAL, ["sh", tool], footer)
    for arguments, message in BOOT_USAGE_FAULTS:
        done = subprocess.run(["sh", tool] + arguments, capture_output=True, text=True,
                              check=False)
        if done.returncode != USAGE_STATUS or done.stderr != message or done.stdout:
            raise Failure("rbar-survey-boot %s: status %d, %r" % (arguments, done.returncode,
                                                                  done.stderr))
    as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] \
        if os.geteuid() == 0 else []
    # The script comes on standard input, opened here: the scratch folder is root's alone.
    with open(tool, encoding="utf-8") as script:
        done = subprocess.run(as_user + ["sh", "-s", "status"], stdin=script,
                              capture_output=True, text=True, check=False)
    if done.returncode != NOT_ROOT_STATUS or "must be run as root" not in done.stderr:
        raise Failure("rbar-survey-boot status as a user: status %d, %r" %
                      (done.returncode, done.stderr))


def root_files(root):
    """The files below a scratch root, dpkg's own database and log left out."""
    found = set()
    for folder, _, names in os.walk(root):
        relative = os.path.relpath(folder, root)
        if relative.startswith(("var/lib/dpkg", "var/log")):
            continue
        found.update(os.path.normpath(os.path.join(relative, name)) for name in names)
    return found


def check_install_remove(package, build, scratch):
    """dpkg installs, removes and purges the package in a scratch root, the maintainer scripts
    run without chroot (DPKG_ROOT); the files below that root after each step."""
    root = os.path.join(scratch, "dpkg-root")
    for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/log"):
        os.makedirs(os.path.join(root, folder))
    open(os.path.join(root, "var/lib/dpkg/status"), "w", encoding="ascii").close()
    for name, text in SCRATCH_ROOT_FILES.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), "w", encoding="ascii") as file:
            file.write(text)
    before = root_files(root)
    architecture = run(["dpkg-deb", "-f", package, "Architecture"]).strip()
    image = "boot/rbar-survey/" + GRUB_IMAGES[architecture]
    packaged = set(PACKAGE_FILES + METRICS_FILES + DOCUMENTS + [CHANGELOG])
    dpkg = ["dpkg", "--root=" + root, "--log=" + os.path.join(root, "var/log/dpkg.log"),
            "--force-script-chrootless", "--force-depends", "--force-not-root"]
    # Another processor's package installs where that architecture is a foreign one.
    if architecture != run(["dpkg", "--print-architecture"]).strip():
        run(dpkg + ["--add-architecture", architecture])
    steps = [
        ("install", ["--install", package], before | packaged | {image}),
        ("remove", ["--remove", "rbar-survey"], before | {PACKAGE_FILES[0]}),
        ("purge", ["--purge", "rbar-survey"], before),
    ]
    for step, arguments, expected in steps:
        run(dpkg + arguments)
        found = root_files(root)
        if found != expected:
            raise Failure("after dpkg %s: extra %s, missing %s" %
                          (step, sorted(found - expected), sorted(expected - found)))
        if step == "install":
            with open(os.path.join(root, image), "rb") as placed, \
                    open(os.path.join(build, os.path.basename(image)), "rb") as made:
                if placed.read() != made.read():
                    raise Failure("the postinst's %s differs from the build's" % image)
        print("dpkg %s in a scratch root: %d files" % (step, len(found)))
    for name, text in SCRATCH_ROOT_FILES.items():
        with open(os.path.join(root, name), encoding="ascii") as file:
            if file.read() != text:
                raise Failure("dpkg changed %s" % name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--build", required=True, help="the build tree")
    parser.add_argument("--version", required=True, help="the project version")
    parser.add_argument("--dump", required=True, help="a dump fixture")
    parser.add_argument("--expected", required=True, help="its expected report")
    parser.add_argument("--architecture", help="the package's (default: this machine's)")
    parser.add_argument("--runner", default="",
                        help="what runs the packaged tool (user-mode QEMU for another processor)")
    arguments = parser.parse_args()
    if shutil.which("dpkg-deb") is None:
        print("dpkg-deb is not installed")
        return SKIP
    architecture = arguments.architecture or run(["dpkg", "--print-architecture"]).strip()
    try:
        with tempfile.TemporaryDirectory() as scratch:
            package = build_package(arguments.cpack, arguments.build, scratch)
            check_contents(package)
            check_control(package, arguments.version, architecture)
            check_lintian(package)
            root = os.path.join(scratch, "root")
            run(["dpkg-deb", "-x", package, root])
            footer = (check_changelog(root, arguments.version), "rbar-survey " + arguments.version)
            check_extracted_tool(root, arguments.version, arguments.build, arguments.dump,
                                 arguments.expected, arguments.runner.split(), footer)
            check_boot_helpers(package, root, scratch, footer)
            check_install_remove(package, arguments.build, scratch)
    except Failure as fault:
        print("FAIL: %s" % fault)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
