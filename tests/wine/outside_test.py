#!/usr/bin/env python3
"""What only the Linux side of Wine can do to a Windows run of shmpeek.exe:
cut short the file behind the section it reads, and close the pipe it writes
into. Checks stdout bytes, stderr bytes and the status of each run.

usage: outside_test.py BUILD_DIR   (the windows preset's build folder)
"""
import fcntl
import os
import subprocess
import sys
import tempfile
import termios
import time

BUILD = os.path.abspath(sys.argv[1])
WINE_RUN = os.path.join(BUILD, "wine-run")
TAG = os.environ.get("SHMPEEK_TEST_RUN", "")
STEM = "Local\\shmpeek-" + (TAG + "-" if TAG else "") + "%d-wine-" % os.getpid()
failures = 0


def check(what, ok, detail=""):
    global failures
    if ok:
        print("ok: " + what)
    else:
        failures += 1
        print("FAILED: %s %s" % (what, detail), file=sys.stderr)


def start(fmomake_args, shmpeek_args):
    """shmpeek.exe under fmomake.exe, its standard output a Linux pipe."""
    return subprocess.Popen(
        [WINE_RUN, "fmomake.exe"] + fmomake_args + ["shmpeek.exe"] + shmpeek_args,
        cwd=BUILD, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def wait_until_full(run, deadline):
    """Until the pipe is full: the run is blocked writing, its next read of
    the section still to come."""
    fd = run.stdout.fileno()
    capacity = fcntl.fcntl(fd, 1032)  # F_GETPIPE_SZ
    while time.time() < deadline:
        queued = fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0")
        if int.from_bytes(queued, "little") >= capacity:
            return True
        if run.poll() is not None:
            return False
        time.sleep(0.01)
    return False


def finish(run, deadline):
    try:
        out, err = run.communicate(timeout=max(1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        run.kill()
        out, err = run.communicate()
        check("the run ended in time", False)
    return out, err


def cut_section_file(label, cut, out_size):
    """The file behind the section is cut to cut bytes (a whole number of
    pages) from Linux while shmpeek.exe -b waits on a full pipe, with its
    first 512 KiB read: the bytes before the cut, the message, -1, never a
    crash."""
    payload = 64 << 20
    with tempfile.TemporaryDirectory() as scratch:
        backing = os.path.join(scratch, "section")
        name = STEM + "cut"
        run = start(["-F", "Z:" + backing.replace("/", "\\"), "-f", "61:%d" % payload, "--", name],
                    ["-b", name])
        deadline = time.time() + 60
        full = wait_until_full(run, deadline)
        check(label + ": the run filled its pipe", full)
        if full:
            os.truncate(backing, cut)
        out, err = finish(run, deadline)
    check(label + ": stderr", err == b"FMO size:%d\r\nFMO truncated during dump\r\n" % (payload + 4), repr(err))
    check(label + ": status -1", run.returncode == 255, "status %d" % run.returncode)
    check(label + ": the bytes before the cut, none lost to a zero", out == b"a" * out_size,
          "%d bytes, %d of them 'a'" % (len(out), out.count(b"a")))


def reader_goes_away():
    """Windows has no SIGPIPE: a reader that closes the pipe early makes the
    write fail."""
    payload = 4 << 20
    name = STEM + "closed"
    run = start(["-f", "61:%d" % payload, "--", name], ["-b", name])
    deadline = time.time() + 60
    taken = run.stdout.read(1000)
    run.stdout.close()
    try:
        err = run.stderr.read()
        run.wait(timeout=max(1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        run.kill()
        run.wait()
        err = b""
        check("closed: the run ended in time", False)
    check("closed: the bytes taken", taken == b"a" * 1000, repr(taken[:20]))
    check("closed: stderr", err == b"FMO size:%d\r\nWrite to stdout Failed\r\n" % (payload + 4), repr(err))
    check("closed: status -1", run.returncode == 255, "status %d" % run.returncode)


# The run has read its first 512 KiB when it blocks; its next read comes
# after the cut.
cut_section_file("cut to one page", 4096, 512 << 10)
cut_section_file("cut inside the next read", 147 * 4096, 147 * 4096 - 4)
reader_goes_away()
if failures:
    print("%d check(s) failed" % failures, file=sys.stderr)
    sys.exit(1)
