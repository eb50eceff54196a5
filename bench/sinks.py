"""What bench/run and bench/wine share: one run of a command into a pipe or a
file, and alternating rounds of timed runs.
"""
import os
import statistics
import subprocess
import tempfile
import time


def run_once(argv, sink, out_path, err):
    """Runs argv with standard output into a pipe (`| cat >/dev/null`) or
    into out_path, standard error into err; a failure ends the bench with
    what the command said."""
    err.seek(0)
    err.truncate()
    if sink == "pipe":
        writer = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=err)
        reader = subprocess.Popen(["cat"], stdin=writer.stdout, stdout=subprocess.DEVNULL)
        writer.stdout.close()
        reader.wait()
        status = writer.wait()
    else:
        with open(out_path, "wb") as out:
            status = subprocess.call(argv, stdout=out, stderr=err)
    if status != 0:
        err.seek(0)
        raise SystemExit(f"bench: {' '.join(argv)} failed with status {status}: {err.read()!r}")


def timed_rounds(cmds, samples, runs, sink, out_path):
    """Median seconds of one run of each (label, argv) in cmds, over samples
    rounds of runs runs each."""
    times = {label: [] for label, _ in cmds}
    with tempfile.TemporaryFile() as err:
        for sample in range(samples):
            # Alternating, one of each per round, and each round begun by the
            # next command: freeing what the one before wrote (a discard on
            # this disk, say) may outlast the sync, and no command should
            # always come after the one that writes nothing.
            turn = sample % len(cmds)
            for label, argv in cmds[turn:] + cmds[:turn]:
                if sink == "file":
                    # Each starts from an empty disk cache: no command pays
                    # for truncating or writing back the one before it.
                    if os.path.exists(out_path):
                        os.unlink(out_path)
                    os.sync()
                start = time.perf_counter()
                for _ in range(runs):
                    run_once(argv, sink, out_path, err)
                times[label].append((time.perf_counter() - start) / runs)
    return {label: statistics.median(t) for label, t in times.items()}
