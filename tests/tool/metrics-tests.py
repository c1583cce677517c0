#!/usr/bin/env python3
"""Tests of rbar-survey's metrics, run by CTest. Exit 0 passes, 1 fails, 77 skips (a program the
test needs is missing or cannot run here).

  json DUMP          --prometheus (and --prometheus --explain) carries exactly the facts of
                     --json (--json --explain): every sample is one the JSON document gives
  exporter DUMP...   Debian's prometheus-node-exporter, on a loopback port with only its textfile
                     collector, serves what rbar-survey-metrics wrote for each dump (and for this
                     machine, as root): every family and sample, and node_textfile_scrape_error
                     0; a failed run leaves the last good file; promtool check metrics passes
                     when promtool is installed
  units BUILD        systemd-analyze verify passes, with no message, on the units that
                     `cmake --install BUILD` stages, their script and manual page staged too;
                     shellcheck finds nothing in the script
"""

import argparse
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77
PREFIX = "rbar_survey_"
MEGABYTE_SHIFT = 20
VERDICTS = ["fits", "window-too-small", "window-32-bit", "bar-32-bit", "placed-below-4g",
            "root-bus", "unknown-bar"]
SAMPLE = re.compile(r'([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)')
LABEL = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)"')
# Where the units and the script are installed, below the staged root.
UNIT_DIR = "usr/lib/systemd/system"
SCRIPT = "usr/libexec/rbar-survey/rbar-survey-metrics"
UNITS = ["rbar-survey-metrics.service", "rbar-survey-metrics.timer"]
EXPORTER = "prometheus-node-exporter"
EXPORTER_WAIT = 20


class Failure(Exception):
    pass


def run(arguments, **options):
    done = subprocess.run(arguments, capture_output=True, text=True, check=False, **options)
    return done.returncode, done.stdout, done.stderr


def parse(text, strict=True):
    """Exposition text as ({family: type}, {(name, labels): value}); strict checks that each
    family has its # HELP, then its # TYPE, then all its samples, and comes once."""
    types, samples, helped, current = {}, {}, set(), None
    for line in text.splitlines():
        words = line.split(" ", 3)
        if line.startswith("# HELP "):
            if strict and words[2] in helped:
                raise Failure("family %s given twice" % words[2])
            helped.add(words[2])
            current = words[2]
        elif line.startswith("# TYPE "):
            if strict and (words[2] != current or words[2] in types):
                raise Failure("# TYPE of %s not right after its # HELP" % words[2])
            types[words[2]] = words[3]
        elif line and not line.startswith("#"):
            match = SAMPLE.fullmatch(line)
            if not match:
                raise Failure("not a sample: %r" % line)
            name, labels, value = match.groups()
            if strict and (name != current or name not in types):
                raise Failure("sample %s outside its family" % name)
            # An empty label is no label (node_exporter gives one series the labels of others).
            key = (name, frozenset(pair for pair in LABEL.findall(labels or "") if pair[1]))
            if key in samples:
                raise Failure("sample given twice: %r" % line)
            samples[key] = float(value)
    return types, samples


def sample(name, labels, value):
    return (PREFIX + name, frozenset(labels.items())), float(value)


def expected_samples(document):
    """The samples the JSON document says the metrics must hold, but the time of the run."""
    expected = dict([
        sample("root_bridges", {}, document["summary"]["root_bridges"]),
        sample("functions_scanned", {}, document["summary"]["functions_scanned"]),
        sample("functions_with_resizable_bar", {}, document["summary"]["with_rebar"]),
        sample("configuration_reads", {}, document["summary"]["configuration_reads"]),
        sample("partial_reads", {}, len(document["short_functions"])),
    ])
    for function in document["functions"]:
        for bar in [bar for bar in function["bars"] if bar["bar"] is not None]:
            labels = {"address": function["address"], "vendor_id": function["vendor_id"],
                      "device_id": function["device_id"], "bar": str(bar["bar"])}
            sizes = {"current_size_bytes": bar["current_index"],
                     "largest_size_bytes": bar["largest_index"],
                     "proposed_size_bytes": bar["proposed_index"]}
            expected.update(sample("bar_" + name, labels, 1 << (index + MEGABYTE_SHIFT))
                            for name, index in sizes.items() if index is not None)
            expected.update(sample("bar_supported_size_bytes", dict(labels, size_index=str(index)),
                                   1 << (index + MEGABYTE_SHIFT))
                            for index in range(32) if bar["size_mask"] >> index & 1)
            explained = bar.get("explain")
            for verdict in VERDICTS if explained else []:
                chosen = verdict == explained["verdict"]
                named = dict(labels, verdict=verdict)
                if chosen and explained["verdict_bridge"] is not None:
                    named["bridge"] = explained["verdict_bridge"]
                expected.update([sample("bar_verdict", named, 1 if chosen else 0)])
    return expected


def tool_metrics(tool, arguments):
    """--prometheus output for arguments, checked for exit status, form and run time."""
    before = time.time()
    status, out, err = run([tool, "--prometheus"] + arguments)
    if status != 0:
        raise Failure("%s --prometheus: status %d: %s" % (arguments, status, err))
    types, samples = parse(out)
    if any(not name.startswith(PREFIX) or kind != "gauge" for name, kind in types.items()):
        raise Failure("families %s: all must be gauges named %s*" % (types, PREFIX))
    stamp = samples.pop((PREFIX + "run_timestamp_seconds", frozenset()), None)
    if stamp is None or not int(before) <= stamp <= time.time():
        raise Failure("run time %s is not the time of the run" % stamp)
    return out, samples


def test_json(tool, dump):
    counts = []
    for explain in ([], ["--explain"]):
        document = json.loads(run([tool, "--json", "-F", dump] + explain)[1])
        _, samples = tool_metrics(tool, ["-F", dump] + explain)
        expected = expected_samples(document)
        if samples != expected:
            raise Failure("metrics %s differ from the JSON document\nonly in metrics: %s\n"
                          "only in JSON: %s" % (explain, set(samples.items()) - set(expected.items()),
                                                set(expected.items()) - set(samples.items())))
        counts.append(len(samples) + 1)
    print("%s: %d samples, %d with --explain, as the JSON document says"
          % (os.path.basename(dump), counts[0], counts[1]))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def scrape(port):
    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5) as response:
        return response.read().decode()


def write_metrics(script, tool, directory, shim, dump, status=0):
    """Runs rbar-survey-metrics on directory with `rbar-survey` standing for the tool on dump
    (this machine when None), or for a tool that fails with status."""
    with open(os.path.join(shim, "rbar-survey"), "w", encoding="ascii") as file:
        if status:
            file.write("#!/bin/sh\necho 'cannot read' >&2\nexit %d\n" % status)
        else:
            file.write('#!/bin/sh\nexec %s "$@"%s\n' % (tool, " -F " + dump if dump else ""))
    os.chmod(os.path.join(shim, "rbar-survey"), 0o755)
    environment = dict(os.environ, PATH=shim + ":" + os.environ["PATH"])
    return run(["sh", script, directory], env=environment)


def check_served(port, text, name):
    """The exporter serves every family and sample of text, and no textfile error."""
    _, served = parse(scrape(port), strict=False)
    _, written = parse(text)
    missing = [key for key, value in written.items() if served.get(key) != value]
    if missing:
        raise Failure("%s: node_exporter does not serve %s" % (name, missing[:3]))
    if served.get(("node_textfile_scrape_error", frozenset())) != 0:
        raise Failure("%s: node_textfile_scrape_error is not 0" % name)
    return len({key[0] for key in written})


def check_failed_run(script, tool, directory, shim, port, last):
    status, _, err = write_metrics(script, tool, directory, shim, None, status=2)
    if status == 0 or "rbar-survey failed with status 2" not in err or "cannot read" not in err:
        raise Failure("a failed survey: status %d, message %r" % (status, err))
    with open(os.path.join(directory, "rbar-survey.prom"), encoding="ascii") as file:
        if file.read() != last or os.listdir(directory) != ["rbar-survey.prom"]:
            raise Failure("a failed survey did not leave the last good file alone")
    check_served(port, last, "after a failed run")


def test_exporter(tool, script, dumps):
    if shutil.which(EXPORTER) is None:
        print("%s is not installed" % EXPORTER)
        return SKIP
    started = time.monotonic()
    port = free_port()
    promtool = shutil.which("promtool")
    with tempfile.TemporaryDirectory() as directory, tempfile.TemporaryDirectory() as shim:
        exporter = subprocess.Popen(
            [EXPORTER, "--web.listen-address=127.0.0.1:%d" % port, "--collector.disable-defaults",
             "--collector.textfile", "--collector.textfile.directory=" + directory,
             "--web.disable-exporter-metrics"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + EXPORTER_WAIT
            while True:
                try:
                    scrape(port)
                    break
                except OSError:
                    if exporter.poll() is not None or time.monotonic() > deadline:
                        raise Failure("node_exporter did not serve on port %d" % port)
                    time.sleep(0.1)
            cases = [(os.path.basename(dump), dump) for dump in dumps]
            if os.geteuid() == 0:
                cases.append(("this machine", None))
            for name, dump in cases:
                status, _, err = write_metrics(script, tool, directory, shim, dump)
                if status != 0:
                    raise Failure("%s: rbar-survey-metrics failed: %s" % (name, err))
                with open(os.path.join(directory, "rbar-survey.prom"), encoding="ascii") as file:
                    text = file.read()
                families = check_served(port, text, name)
                if promtool:
                    status, out, err = run([promtool, "check", "metrics"], input=text)
                    if status != 0:
                        raise Failure("%s: promtool check metrics: %s%s" % (name, out, err))
                print("%s: %d families served, node_textfile_scrape_error 0" % (name, families))
            check_failed_run(script, tool, directory, shim, port, text)
        finally:
            exporter.terminate()
            try:
                exporter.wait(timeout=10)
            except subprocess.TimeoutExpired:
                exporter.kill()
                exporter.wait()
    print("a failed run leaves the last good file; promtool check metrics: %s; %.1f s"
          % ("passed" if promtool else "promtool not installed", time.monotonic() - started))
    return 0


def test_units(cmake, build):
    if not all(shutil.which(program) for program in ("systemd-analyze", "man", "shellcheck")):
        print("systemd-analyze, man or shellcheck is not installed")
        return SKIP
    with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as scratch:
        status, _, err = run([cmake, "--install", build, "--prefix", "/usr"],
                             env=dict(os.environ, DESTDIR=root))
        if status != 0:
            raise Failure("cmake --install: " + err)
        status, out, _ = run(["shellcheck", os.path.join(root, SCRIPT)])
        if status != 0:
            raise Failure("shellcheck %s:\n%s" % (SCRIPT, out))
        for unit in UNITS:
            with open(os.path.join(root, UNIT_DIR, unit), encoding="ascii") as file:
                text = file.read()
            # The script where the package puts it, found inside the staged root.
            text = text.replace("ExecStart=/" + SCRIPT, "ExecStart=" + os.path.join(root, SCRIPT))
            with open(os.path.join(scratch, unit), "w", encoding="ascii") as file:
                file.write(text)
        # Documentation= names the manual page, which man finds in the staged root.
        environment = dict(os.environ, MANPATH=os.path.join(root, "usr/share/man"))
        status, out, err = run(["systemd-analyze", "verify"] + UNITS, cwd=scratch,
                               env=environment)
    if status != 0 and "Failed to initialize manager" in err:
        print("systemd-analyze cannot run here: %s" % err)
        return SKIP
    if status != 0 or out or err:
        raise Failure("systemd-analyze verify: status %d\n%s%s" % (status, out, err))
    print("systemd-analyze verify: %s pass" % " and ".join(UNITS))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", help="the rbar-survey executable")
    parser.add_argument("--script", help="rbar-survey-metrics")
    parser.add_argument("--cmake", help="cmake, to stage an install (units)")
    parser.add_argument("test", choices=["json", "exporter", "units"])
    parser.add_argument("paths", nargs="+", help="dump files (json, exporter), build tree (units)")
    arguments = parser.parse_args()
    tool = os.path.abspath(arguments.tool) if arguments.tool else None
    try:
        if arguments.test == "json":
            return test_json(tool, arguments.paths[0]) or 0
        if arguments.test == "exporter":
            return test_exporter(tool, os.path.abspath(arguments.script),
                                 [os.path.abspath(path) for path in arguments.paths])
        return test_units(arguments.cmake, os.path.abspath(arguments.paths[0]))
    except Failure as fault:
        print("FAIL: %s" % fault)
        return 1


if __name__ == "__main__":
    sys.exit(main())
