#!/usr/bin/env python3
"""Test of the release's file list, run by CTest (the release itself is built by make release
and checked by make release-check, outside the test suite): make-release.sh --list names
exactly the release's files, and make-release.sh --check, which make release runs on the folder
it made, accepts exactly those files and names what is wrong with any other folder. The stick
image's README.TXT (read from the image with mtools) names the project version, as
`rbar-survey --version` does, in CR LF lines. Exit 0 passes, 1 fails.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

VERSION = "1.2.3"
RELEASE_FILES = [
    "SHA256SUMS",
    "rbar-survey-1.2.3-usb.img.xz",
    "rbar-survey-1.2.3-usb.zip",
    "rbar-survey-1.2.3.tar.gz",
    "rbar-survey_1.2.3_amd64.deb",
    "rbar-survey_1.2.3_arm64.deb",
]
# Folders for --check: (case, files and their text, exit status, text standard error must hold).
CHECK_CASES = [
    ("the release's files", {name: "x" for name in RELEASE_FILES}, 0, ""),
    ("one more file", dict({name: "x" for name in RELEASE_FILES}, **{"notes.txt": "x"}), 1,
     "extra [notes.txt], missing []"),
    ("the arm64 package missing",
     {name: "x" for name in RELEASE_FILES if not name.endswith("arm64.deb")}, 1,
     "extra [], missing [rbar-survey_1.2.3_arm64.deb]"),
    ("an empty checksum file", dict({name: "x" for name in RELEASE_FILES}, SHA256SUMS=""), 1,
     "SHA256SUMS is empty or not a file"),
]


# Where the stick image's FAT32 partition starts, in bytes (scripts/make-usb-image.sh).
PARTITION_OFFSET = 1048576


def stick_readme_faults(image, version):
    """What is wrong with README.TXT on the stick image, as a list."""
    if shutil.which("mtype") is None:
        return ["mtype (Debian package mtools) is not installed"]
    done = subprocess.run(["mtype", "-i", "%s@@%d" % (image, PARTITION_OFFSET), "::/README.TXT"],
                          capture_output=True, check=False,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if done.returncode != 0:
        return ["cannot read README.TXT from %s: %r" % (image, done.stderr)]
    text = done.stdout.decode("ascii")
    faults = []
    if "\r\nrbar-survey %s\r\n" % version not in text:
        faults.append("README.TXT does not name rbar-survey %s on a line of its own" % version)
    if text.count("\n") != text.count("\r\n"):
        faults.append("README.TXT has lines not ended by CR LF")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script", required=True, help="scripts/make-release.sh")
    parser.add_argument("--stick", required=True, help="the USB stick image")
    parser.add_argument("--version", required=True, help="the project version")
    arguments = parser.parse_args()
    script = arguments.script
    failed = stick_readme_faults(arguments.stick, arguments.version)
    listed = subprocess.run([script, "--list", VERSION], capture_output=True, text=True,
                            check=False)
    if listed.returncode != 0 or sorted(listed.stdout.splitlines()) != RELEASE_FILES:
        failed.append("--list: status %d, %r" % (listed.returncode, listed.stdout))
    for case, files, status, message in CHECK_CASES:
        with tempfile.TemporaryDirectory() as folder:
            for name, text in files.items():
                with open(os.path.join(folder, name), "w", encoding="ascii") as file:
                    file.write(text)
            done = subprocess.run([script, "--check", folder, VERSION], capture_output=True,
                                  text=True, check=False)
        if done.returncode != status or message not in done.stderr:
            failed.append("%s: status %d, %r" % (case, done.returncode, done.stderr))
    if failed:
        print("FAIL: " + "\n".join(failed))
        return 1
    print("the release's %d files listed; %d folders checked as expected; the stick's "
          "README.TXT names version %s" % (len(RELEASE_FILES), len(CHECK_CASES), arguments.version))
    return 0


if __name__ == "__main__":
    sys.exit(main())
