#!/usr/bin/env python3
"""Tests of rbar-survey's metrics, run by CTest. Exit 0 passes, 1 fails, 77 skips.

  json DUMP         --prometheus [--explain] holds exactly the samples its --json [--explain]
                    document gives, and the time of the run
  exporter DUMP...  Debian's node_exporter, on a loopback port with only its textfile collector,
                    serves every sample rbar-survey-metrics wrote for each dump (and this
                    machine, as root) with node_textfile_scrape_error 0; promtool check metrics
                    passes where installed; a failed run leaves the last good file alone, and
                    so does a run on a file system too small for the metrics
  units BUILD       systemd-analyze verify (no message) on the units `cmake --install` stages,
                    their script and manual page found there
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
VERDICTS = ["fits", "window-too-small", "window-32-bit", "bar-32-bit", "placed-below-4g",
            "root-bus", "unknown-bar"]
SAMPLE = re.compile(r'([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)')
LABEL = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)"')
UNITS = ["rbar-survey-metrics.service", "rbar-survey-metrics.timer"]
EXPORTER = "prometheus-node-exporter"


class Failure(Exception):
    pass


def run(arguments, **options):
    done = subprocess.run(arguments, capture_output=True, text=True, check=False, **options)
    return done.returncode, done.stdout, done.stderr


def samples_of(text):
    """{(name, labels): value}; an empty label is no label, as in Prometheus."""
    samples = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, labels, value = SAMPLE.fullmatch(line).groups()
            key = (name, frozenset(pair for pair in LABEL.findall(labels or "") if pair[1]))
            if key in samples:
                raise Failure("sample given twice: %r" % line)
            samples[key] = float(value)
    return samples


def sample(name, labels, value):
    return (PREFIX + name, frozenset(labels.items())), float(value)


def expected_samples(document):
    """The samples the JSON document gives, but the time of the run."""
    summary = document["summary"]
    expected = dict([sample("root_bridges", {}, summary["root_bridges"]),
                     sample("functions_scanned", {}, summary["functions_scanned"]),
                     sample("functions_with_resizable_bar", {}, summary["with_rebar"]),
                     sample("configuration_reads", {}, summary["configuration_reads"]),
                     sample("functions_read_in_part", {}, len(document["short_functions"]))])
    for function in document["functions"]:
        for bar in [bar for bar in function["bars"] if bar["bar"] is not None]:
            labels = {"address": function["address"], "vendor_id": function["vendor_id"],
                      "device_id": function["device_id"], "bar": str(bar["bar"])}
            for name in ("current", "largest", "proposed"):
                if bar[name + "_index"] is not None:
                    expected.update([sample("bar_%s_size_bytes" % name, labels,
                                            1 << (bar[name + "_index"] + 20))])
            expected.update(sample("bar_supported_size_bytes", dict(labels, size_index=str(index)),
                                   1 << (index + 20))
                            for index in range(32) if bar["size_mask"] >> index & 1)
            explained = bar.get("explain")
            for verdict in VERDICTS if explained else []:
                named = dict(labels, verdict=verdict)
                if verdict == explained["verdict"] and explained["verdict_bridge"]:
                    named["bridge"] = explained["verdict_bridge"]
                expected.update([sample("bar_verdict", named, verdict == explained["verdict"])])
    return expected


def test_json(tool, dump):
    for explain in ([], ["--explain"]):
        before = int(time.time())
        status, out, err = run([tool, "--prometheus", "-F", dump] + explain)
        samples = samples_of(out)
        stamp = samples.pop((PREFIX + "run_timestamp_seconds", frozenset()), 0)
        if status != 0 or not before <= stamp <= time.time():
            raise Failure("status %d, run time %s: %s" % (status, stamp, err))
        expected = expected_samples(json.loads(run([tool, "--json", "-F", dump] + explain)[1]))
        if samples != expected:
            raise Failure("metrics %s differ from the JSON document: only in metrics %s, only "
                          "in JSON %s" % (explain, set(samples.items()) - set(expected.items()),
                                          set(expected.items()) - set(samples.items())))
        print("%s %s: %d samples, as the JSON document says" % (dump, explain, len(samples) + 1))


def scrape(port):
    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5) as response:
        return samples_of(response.read().decode())


def write_metrics(script, directory, shim, command):
    """rbar-survey-metrics on directory, with `rbar-survey` standing for command."""
    with open(os.path.join(shim, "rbar-survey"), "w", encoding="ascii") as file:
        file.write("#!/bin/sh\n%s\n" % command)
    os.chmod(os.path.join(shim, "rbar-survey"), 0o755)
    status, _, err = run(["sh", script, directory],
                         env=dict(os.environ, PATH=shim + ":" + os.environ["PATH"]))
    with open(os.path.join(directory, "rbar-survey.prom"), encoding="ascii") as file:
        return status, err, file.read()


def check_served(port, text, name):
    served = scrape(port)
    missing = [key for key, value in samples_of(text).items() if served.get(key) != value]
    if missing or served.get(("node_textfile_scrape_error", frozenset())) != 0:
        raise Failure("%s: node_exporter serves an error, or not %s" % (name, missing[:2]))
    families = len(re.findall("^# TYPE ", text, re.MULTILINE))
    print("%s: %d families served, node_textfile_scrape_error 0" % (name, families))


# A survey whose metrics fit in a small file system, and one whose metrics (11 KB) do not.
SMALL_SURVEY = "no-rebar.dump"
LARGE_SURVEY = "demo-gpus.dump"
SMALL_FILE_SYSTEM = "size=8k"


def check_full_file_system(tool, script, shim, dumps):
    """rbar-survey-metrics on a full file system fails and keeps the last good file whole: an
    8 KiB tmpfs where this test may mount one (as root), else an output that refuses writes."""
    by_name = {os.path.basename(dump): dump for dump in dumps}
    with tempfile.TemporaryDirectory() as directory:
        mounted = os.geteuid() == 0 and run(["mount", "-t", "tmpfs", "-o", SMALL_FILE_SYSTEM,
                                             "tmpfs", directory])[0] == 0
        try:
            status, err, good = write_metrics(script, directory, shim, 'exec %s "$@" -F %s'
                                              % (tool, by_name[SMALL_SURVEY]))
            if status != 0:
                raise Failure("the small survey on the small file system: %s" % err)
            large = by_name[LARGE_SURVEY]
            command = ('exec %s "$@" -F %s' % (tool, large) if mounted
                       else 'exec %s "$@" -F %s >/dev/full' % (tool, large))
            status, err, kept = write_metrics(script, directory, shim, command)
            if status == 0 or kept != good or len(os.listdir(directory)) != 1:
                raise Failure("a survey that does not fit: status %d, %r, %d bytes kept of %d; "
                              "the last good file must stay alone"
                              % (status, err, len(kept), len(good)))
        finally:
            if mounted:
                run(["umount", directory])
    print("a survey that does not fit (%s): the last good file kept"
          % ("8 KiB tmpfs" if mounted else "/dev/full"))


# rbar-survey-metrics' command lines: (arguments, status, start of stdout, stderr).
SCRIPT_USAGE = [
    (["--help"], 0, "usage: rbar-survey-metrics [DIRECTORY]\n", ""),
    (["--bogus"], 2, "", "rbar-survey-metrics: unknown option \"--bogus\"\n"
                         "Try 'rbar-survey-metrics --help'.\n"),
    (["a", "b"], 2, "", "rbar-survey-metrics: one directory at most, 2 given\n"
                        "Try 'rbar-survey-metrics --help'.\n"),
]


def check_script_usage(script):
    for arguments, expected, out_start, expected_err in SCRIPT_USAGE:
        status, out, err = run(["sh", script] + arguments)
        if status != expected or not out.startswith(out_start) or err != expected_err:
            raise Failure("rbar-survey-metrics %s: status %d, %r, %r"
                          % (arguments, status, out[:60], err))
    print("%d command lines of rbar-survey-metrics as expected" % len(SCRIPT_USAGE))


def test_exporter(tool, script, dumps):
    check_script_usage(script)
    if shutil.which(EXPORTER) is None:
        print("%s is not installed" % EXPORTER)
        return SKIP
    started = time.monotonic()
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    promtool = shutil.which("promtool")
    cases = [(os.path.basename(dump), 'exec %s "$@" -F %s' % (tool, dump)) for dump in dumps]
    cases += [("this machine", 'exec %s "$@"' % tool)] if os.geteuid() == 0 else []
    with tempfile.TemporaryDirectory() as directory, tempfile.TemporaryDirectory() as shim:
        exporter = subprocess.Popen(
            [EXPORTER, "--web.listen-address=127.0.0.1:%d" % port, "--collector.disable-defaults",
             "--collector.textfile", "--collector.textfile.directory=" + directory,
             "--web.disable-exporter-metrics"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(200):
                try:
                    scrape(port)
                    break
                except OSError:
                    time.sleep(0.1)
            for name, command in cases:
                status, err, text = write_metrics(script, directory, shim, command)
                if status != 0:
                    raise Failure("%s: rbar-survey-metrics failed: %s" % (name, err))
                check_served(port, text, name)
                if promtool and run([promtool, "check", "metrics"], input=text)[0] != 0:
                    raise Failure("%s: promtool check metrics fails" % name)
            status, err, kept = write_metrics(script, directory, shim,
                                              "echo unreadable >&2; exit 2")
            if status == 0 or "unreadable" not in err or kept != text or \
                    len(os.listdir(directory)) != 1:
                raise Failure("a failed survey: status %d, %r; the last file must stay alone"
                              % (status, err))
            check_served(port, kept, "after a failed run")
            check_full_file_system(tool, script, shim, dumps)
        finally:
            exporter.terminate()
            try:
                exporter.wait(timeout=10)
            except subprocess.TimeoutExpired:
                exporter.kill()
                exporter.wait()
    print("promtool check metrics: %s; %.1f s" % ("passed" if promtool else "not installed",
                                                   time.monotonic() - started))
    return 0


def test_units(cmake, build):
    if not all(shutil.which(program) for program in ("systemd-analyze", "man")):
        print("systemd-analyze or man is not installed")
        return SKIP
    with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as scratch:
        status, _, err = run([cmake, "--install", build, "--prefix", "/usr"],
                             env=dict(os.environ, DESTDIR=root))
        if status != 0:
            raise Failure("cmake --install:\n" + err)
        for unit in UNITS:
            # The script where the package puts it, found inside the staged root.
            with open(os.path.join(root, "usr/lib/systemd/system", unit), encoding="ascii") as file:
                text = file.read().replace("ExecStart=/", "ExecStart=%s/" % root)
            with open(os.path.join(scratch, unit), "w", encoding="ascii") as file:
                file.write(text)
        status, out, err = run(["systemd-analyze", "verify"] + UNITS, cwd=scratch,
                               env=dict(os.environ, MANPATH=root + "/usr/share/man"))
    if status != 0 and "Failed to initialize manager" in err:
        print("systemd-analyze cannot run here: " + err)
        return SKIP
    if status != 0 or out or err:
        raise Failure("systemd-analyze verify: status %d\n%s%s" % (status, out, err))
    print("systemd-analyze verify: no message")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool")
    parser.add_argument("--script", help="rbar-survey-metrics (exporter)")
    parser.add_argument("--cmake", help="cmake, to stage an install (units)")
    parser.add_argument("test", choices=["json", "exporter", "units"])
    parser.add_argument("paths", nargs="+", help="dump files, or the build tree (units)")
    arguments = parser.parse_args()
    paths = [os.path.abspath(path) for path in arguments.paths]
    try:
        if arguments.test == "json":
            return test_json(os.path.abspath(arguments.tool), paths[0]) or 0
        if arguments.test == "exporter":
            return test_exporter(os.path.abspath(arguments.tool),
                                 os.path.abspath(arguments.script), paths)
        return test_units(arguments.cmake, paths[0])
    except Failure as fault:
        print("FAIL: %s" % fault)
        return 1


if __name__ == "__main__":
    sys.exit(main())
