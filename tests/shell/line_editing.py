#!/usr/bin/env python3
"""The shell at a terminal edits lines and recalls them.

    line_editing.py SHELL

Runs SHELL on a pseudo-terminal, types an expression, then the up-arrow key
and Return: only a shell whose line editing works evaluates the recalled line
a second time. Then checks that leaving saved the history. Exit status 0
when all holds, 1 otherwise (with what the terminal showed).
"""

import os
import pty
import select
import sys
import tempfile
import time


def main():
    shell = sys.argv[1]
    home = tempfile.mkdtemp(prefix="zephro-line-editing-")
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.update(TERM="xterm", HOME=home)
        os.execv(shell, [shell])
    shown = b""

    def wait_for(text, count=1, timeout=20.0):
        """Reads the terminal until `text` has been shown `count` times."""
        nonlocal shown
        end = time.monotonic() + timeout
        while shown.count(text) < count and time.monotonic() < end:
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    break
                if not data:
                    break
                shown += data
        return shown.count(text) >= count

    ok = wait_for(b"zephro> ")
    os.write(fd, b"(+ 40 2)\r")
    ok = ok and wait_for(b"\r\n42\r\n") and wait_for(b"zephro> ", 2)
    os.write(fd, b"\x1b[A\r")  # up arrow: the line before, then Return
    recalled = ok and wait_for(b"\r\n42\r\n", 2)
    os.write(fd, b"(exit)\r")
    wait_for(b"never shown", timeout=2.0)  # let the shell leave
    _, status = os.waitpid(pid, 0)
    history = os.path.join(home, ".zephro_history")
    saved = os.path.exists(history) and b"40" in open(history, "rb").read()

    failures = []
    if not ok:
        failures.append("the typed expression was not evaluated")
    elif not recalled:
        failures.append("the up-arrow key did not recall the line")
    if not saved:
        failures.append("no history was saved in $HOME/.zephro_history")
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        failures.append(f"the shell ended with status {status}")
    if failures:
        print("line_editing: " + "; ".join(failures))
        print("the terminal showed: " + repr(shown))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
