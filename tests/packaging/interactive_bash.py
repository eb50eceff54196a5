#!/usr/bin/env python3
"""Types lines into an interactive bash on a pseudo-terminal, as a user would,
and prints what the terminal showed, without carriage returns.

usage: interactive_bash.py LINE...   (each LINE is typed, then Enter; a tab
in a LINE is the Tab key)
"""
import os
import pty
import select
import sys
import time

PROMPT = b"READY> "


def main():
    pid, fd = pty.fork()
    if pid == 0:
        env = {"PATH": os.environ["PATH"], "TERM": "dumb", "PS1": PROMPT.decode(), "HOME": os.getcwd(),
               "INPUTRC": "/dev/null"}
        os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], env)

    shown = b""
    deadline = time.time() + 30

    def read_until_prompts(count):
        nonlocal shown
        while shown.count(PROMPT) < count:
            if time.time() > deadline:
                sys.stderr.write("interactive_bash: bash stopped answering\n")
                return False
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                try:
                    shown += os.read(fd, 65536)
                except OSError:
                    return False
        return True

    ok = read_until_prompts(1)
    for n, line in enumerate(sys.argv[1:], start=2):
        if not ok:
            break
        os.write(fd, line.encode() + b"\n")
        ok = read_until_prompts(n)
    os.write(fd, b"exit\n")
    os.close(fd)
    os.waitpid(pid, 0)
    sys.stdout.write(shown.decode(errors="replace").replace("\r", ""))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
