#!/usr/bin/env python3
"""Runs a libFuzzer target for the fuzz tests.

replay:   every seed of the corpus and every regression input, once each.
run:      fuzzing for a bounded time from a scratch copy of the corpus and the regression
          inputs, so that the repository's corpus is never modified; new inputs and crash
          artifacts stay in the work directory.
campaign: fuzzing for a number of executions (--runs) from a scratch copy the same way, then
          the corpus minimized into a fresh directory (libFuzzer's -merge=1), and the figures
          written to WORK/figures.txt: executions, time, exec/s, coverage, corpus sizes.

On a crash the crashing input is printed in hex and the test fails; a run also prints its
executions, time and final statistics.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import time

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


def prepare(args):
    """A fresh scratch corpus (the seeds and the regression inputs) and artifact directory in
    the work directory; returns both."""
    scratch = args.work / "corpus"
    artifacts = args.work / "artifacts"
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.rmtree(artifacts, ignore_errors=True)
    scratch.mkdir(parents=True)
    artifacts.mkdir(parents=True)
    for source in inputs_of(args.corpus) + inputs_of(args.regressions):
        shutil.copy(source, scratch / f"{source.parent.name}-{source.name}")
    return scratch, artifacts


def fuzz_command(args, artifacts):
    """The fuzzing command line shared by run and campaign, without its limit and corpus."""
    return [str(args.target), f"-timeout={INPUT_TIMEOUT_SECONDS}",
            f"-artifact_prefix={artifacts}/", "-print_final_stats=1",
            "-entropic_scale_per_exec_time=1"]


def report_artifacts(artifacts):
    """Prints every crash artifact in hex; returns them."""
    found = [p for pattern in ARTIFACT_PATTERNS for p in sorted(artifacts.glob(pattern))]
    for artifact in found:
        hex_dump(artifact)
    return found


def run(args):
    scratch, artifacts = prepare(args)
    command = fuzz_command(args, artifacts) + [f"-max_total_time={args.seconds}"]
    if args.jobs > 1:
        command += [f"-jobs={args.jobs}", f"-workers={args.jobs}"]
    status, output = run_target(command + [str(scratch)])

    found = report_artifacts(artifacts)
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


def coverage_of(output, stage):
    """cov and ft of the last libFuzzer status line of a stage (INITED, DONE), or None."""
    lines = re.findall(rf"#\d+\s+{stage}\s+cov: (\d+) ft: (\d+)", output)
    return (int(lines[-1][0]), int(lines[-1][1])) if lines else None


def corpus_size(directory):
    """Number of inputs and their bytes."""
    files = inputs_of(directory)
    return len(files), sum(f.stat().st_size for f in files)


def campaign(args):
    scratch, artifacts = prepare(args)
    seeds = corpus_size(scratch)
    started = time.monotonic()
    status, output = run_target(fuzz_command(args, artifacts) +
                                [f"-runs={args.runs}", str(scratch)])
    seconds = time.monotonic() - started
    found = report_artifacts(artifacts)
    executions = re.findall(r"stat::number_of_executed_units:\s*(\d+)", output)
    runs = int(executions[-1]) if executions else 0

    # Minimized corpus: the smallest set of inputs with the same coverage, in a fresh directory.
    minimized = args.work / "minimized"
    shutil.rmtree(minimized, ignore_errors=True)
    minimized.mkdir()
    merge_status, _ = run_target([str(args.target), "-merge=1", str(minimized), str(scratch)])

    start, end = coverage_of(output, "INITED"), coverage_of(output, "DONE")
    grown, kept = corpus_size(scratch), corpus_size(minimized)
    lines = [
        f"target: {args.target.name}",
        f"executions: {runs} of {args.runs} in {seconds:.0f} s "
        f"({runs / seconds if seconds else 0:.0f} exec/s)",
        f"coverage: cov {start[0] if start else '?'} -> {end[0] if end else '?'}, "
        f"ft {start[1] if start else '?'} -> {end[1] if end else '?'}",
        f"corpus: {seeds[0]} inputs ({seeds[1]} bytes) -> {grown[0]} ({grown[1]} bytes); "
        f"minimized {kept[0]} ({kept[1]} bytes) in {minimized}",
        f"artifacts: {len(found)} in {artifacts}",
        f"status: fuzzing {status}, merge {merge_status}",
    ]
    (args.work / "figures.txt").write_text("\n".join(lines) + "\n")
    print("\n".join(lines))
    return 1 if status != 0 or found or merge_status != 0 else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=("replay", "run", "campaign"))
    parser.add_argument("--target", type=pathlib.Path, required=True)
    parser.add_argument("--corpus", type=pathlib.Path, required=True)
    parser.add_argument("--regressions", type=pathlib.Path, required=True)
    parser.add_argument("--work", type=pathlib.Path, required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--runs", type=int, default=10_000_000)
    args = parser.parse_args()
    return {"replay": replay, "run": run, "campaign": campaign}[args.mode](args)


if __name__ == "__main__":
    sys.exit(main())
