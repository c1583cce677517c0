#!/usr/bin/env python3
"""Runs a libFuzzer target for the fuzz tests.

replay: every seed of the corpus and every regression input, once each.
run:    fuzzing for a bounded time from a scratch copy of the corpus and the regression inputs,
        so that the repository's corpus is never modified; new inputs and crash artifacts stay
        in the work directory.

On a crash the crashing input is printed in hex and the test fails; a run also prints its
executions, time and final statistics.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys

ARTIFACT_PATTERNS = ("crash-*", "leak-*", "timeout-*", "oom-*", "slow-unit-*")
# Longest time one input may take before libFuzzer reports it as a hang.
INPUT_TIMEOUT_SECONDS = 25


def inputs_of(directory):
    """The input files of a corpus or regression directory, notes excluded."""
    if not directory.is_dir():
        return []
    return sorted(p for p in directory.iterdir() if p.is_file() and p.suffix != ".md")


def hex_dump(path):
    """The input as hex, the way xxd shows it (od when xxd is missing)."""
    data = path.read_bytes()
    print(f"--- crashing input {path} ({len(data)} bytes) ---")
    tool = ["xxd", str(path)] if shutil.which("xxd") else ["od", "-A", "x", "-t", "x1z", str(path)]
    sys.stdout.flush()
    subprocess.run(tool, check=False)
    print("--- end of input ---")
    sys.stdout.flush()


def run_target(command):
    """Runs the target, passing its output through as it comes; returns the exit status and
    the output."""
    print("$ " + " ".join(command))
    sys.stdout.flush()
    lines = []
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace") as process:
        for line in process.stdout:
            sys.stdout.write(line)
            lines.append(line)
        sys.stdout.flush()
    return process.returncode, "".join(lines)


def replay(args):
    files = inputs_of(args.corpus) + inputs_of(args.regressions)
    if not files:
        print(f"no inputs in {args.corpus} or {args.regressions}")
        return 1
    status, output = run_target([str(args.target)] + [str(f) for f in files])
    if status == 0:
        print(f"replayed {len(files)} inputs")
        return 0
    running = re.findall(r"^Running: (.*)$", output, re.MULTILINE)
    if running:
        hex_dump(pathlib.Path(running[-1]))
    print(f"replay failed with status {status}")
    return 1


def run(args):
    scratch = args.work / "corpus"
    artifacts = args.work / "artifacts"
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.rmtree(artifacts, ignore_errors=True)
    scratch.mkdir(parents=True)
    artifacts.mkdir(parents=True)
    for source in inputs_of(args.corpus) + inputs_of(args.regressions):
        shutil.copy(source, scratch / f"{source.parent.name}-{source.name}")

    command = [str(args.target), f"-max_total_time={args.seconds}",
               f"-timeout={INPUT_TIMEOUT_SECONDS}", f"-artifact_prefix={artifacts}/",
               "-print_final_stats=1", "-entropic_scale_per_exec_time=1"]
    if args.jobs > 1:
        command += [f"-jobs={args.jobs}", f"-workers={args.jobs}"]
    status, output = run_target(command + [str(scratch)])

    found = [p for pattern in ARTIFACT_PATTERNS for p in sorted(artifacts.glob(pattern))]
    for artifact in found:
        hex_dump(artifact)
    executions = re.findall(r"stat::number_of_executed_units:\s*(\d+)", output)
    done = re.findall(r"Done (\d+) runs in (\d+) second", output)
    corpus = len(inputs_of(scratch))
    if done:
        runs, seconds = int(done[-1][0]), int(done[-1][1])
        rate = runs // seconds if seconds else runs
        print(f"executions: {runs} in {seconds} s ({rate} exec/s); corpus now {corpus} inputs")
    elif executions:
        print(f"executions: {executions[-1]}; corpus now {corpus} inputs")
    if status != 0 or found:
        print(f"fuzzing failed with status {status}; {len(found)} artifacts in {artifacts}")
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=("replay", "run"))
    parser.add_argument("--target", type=pathlib.Path, required=True)
    parser.add_argument("--corpus", type=pathlib.Path, required=True)
    parser.add_argument("--regressions", type=pathlib.Path, required=True)
    parser.add_argument("--work", type=pathlib.Path, required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--jobs", type=int, default=1)
    args = parser.parse_args()
    return replay(args) if args.mode == "replay" else run(args)


if __name__ == "__main__":
    sys.exit(main())
