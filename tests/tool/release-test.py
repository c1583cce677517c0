#!/usr/bin/env python3
"""Test of the release's file list, run by CTest (the release itself is built by make release
and checked by make release-check, outside the test suite): make-release.sh --list names
exactly the release's files, and make-release.sh --check, which make release runs on the folder
it made, accepts exactly those files and names what is wrong with any other folder.
Exit 0 passes, 1 fails.
"""

import argparse
import os
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
    ("another version's zip",
     dict({name: "x" for name in RELEASE_FILES if not name.endswith(".zip")},
          **{"rbar-survey-1.2.2-usb.zip": "x"}), 1,
     "extra [rbar-survey-1.2.2-usb.zip], missing [rbar-survey-1.2.3-usb.zip]"),
    ("an empty checksum file", dict({name: "x" for name in RELEASE_FILES}, SHA256SUMS=""), 1,
     "SHA256SUMS is empty or not a file"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script", required=True, help="scripts/make-release.sh")
    script = parser.parse_args().script
    failed = []
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
    print("the release's %d files listed; %d folders checked as expected"
          % (len(RELEASE_FILES), len(CHECK_CASES)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
