#!/usr/bin/python3
"""Runs the Windows program under wine as a console user meets it, and checks
it against the Linux build:

1. a line typed at a console (wine gives the program a real one when it runs
   on a terminal: here a pseudo-terminal), "Zo\u00eb. Ab": the report and the
   picture must be Linux's for the same line in UTF-8 ("Message Length: 8");
2. Ctrl-C at the prompt: the run ends as Windows ends it for Ctrl-C (status
   0xC000013A, which wine passes on as 58), without "No message entered.";
3. SIGINT, which wine hands the program as Ctrl-C, while the picture is
   being written: the folder is left as it was, the earlier picture whole.

What wine cannot show: its console's line editing takes Ctrl-Z for itself,
so a Ctrl-Z line never reaches the program (the rule is tested on its own);
and its console read is not stopped by Ctrl-C before the process ends.

Usage: winconsole.py FOLDER LINUXPROGRAM
FOLDER holds moltravytext.exe and the 29 glyph files (the unpacked zip).
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
CONTROLCEXIT = 0xC000013A & 0xFF
ENV = dict(os.environ, WINEDEBUG="-all")


def fail(why):
    sys.exit("winconsole: " + why)


def copyfolder(source, folder):
    for name in os.listdir(source):
        if name.endswith(".bmp") or name.endswith(".exe"):
            shutil.copy(os.path.join(source, name), folder)


def plain(shown):
    """What a terminal showed, without its control sequences and white
    space (the console draws spaces as cursor moves)."""
    return re.sub(rb"\s", b"", re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown))


def onterminal(folder, typed):
    """Runs the program in folder on a pseudo-terminal, types typed at its
    prompt, and returns what the terminal showed (plain) and the exit
    status."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execve(WINE, ["wine64", "moltravytext.exe"], ENV)
    shown = b""
    status = None
    deadline = time.time() + 60
    while status is None and time.time() < deadline:
        ready, _, _ = select.select([terminal], [], [], 0.1)
        if ready:
            try:
                shown += os.read(terminal, 4096)
            except OSError:
                pass
        if typed is not None and plain(shown).endswith(b"Entermessage:"):
            # The console takes the terminal over (raw, its own echo) only
            # once the program reads.
            time.sleep(1)
            os.write(terminal, typed.encode())
            typed = None
        done, raw = os.waitpid(pid, os.WNOHANG)
        if done:
            status = os.waitstatus_to_exitcode(raw)
    if status is None:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        fail("the program on a terminal did not end: %r" % plain(shown))
    os.close(terminal)
    return plain(shown), status


def typedline(work, linux):
    folder = tempfile.mkdtemp(dir=work)
    copyfolder(sys.argv[1], folder)
    shown, status = onterminal(folder, "Zo\u00eb. Ab\r")
    mine = tempfile.mkdtemp(dir=work)
    copyfolder(sys.argv[1], mine)
    run = subprocess.run([linux], cwd=mine, input="Zo\u00eb. Ab\n".encode(),
                         capture_output=True, check=True)
    want = re.sub(rb"\s", b"", run.stdout.split(b"message:", 1)[1])
    if status != 0 or not shown.endswith(want):
        fail("a typed line: status %d, shown %r, not Linux's %r"
             % (status, shown[-120:], want))
    with open(os.path.join(folder, "moltravytext.bmp"), "rb") as a, \
            open(os.path.join(mine, "moltravytext.bmp"), "rb") as b:
        if a.read() != b.read():
            fail("a typed line: the picture differs from Linux's")
    print("winconsole: \"Zo\u00eb. Ab\" typed at a console: Message Length 8, "
          "Linux's report and picture")


def controlc(work):
    folder = tempfile.mkdtemp(dir=work)
    copyfolder(sys.argv[1], folder)
    shown, status = onterminal(folder, "\x03")
    if status != CONTROLCEXIT or b"Nomessage" in shown:
        fail("Ctrl-C at the prompt: status %d, shown %r" % (status, shown))
    print("winconsole: Ctrl-C at the prompt ends the run as Windows does "
          "(status %d under wine)" % status)


def interrupted(work):
    folder = tempfile.mkdtemp(dir=work)
    copyfolder(sys.argv[1], folder)
    with open(os.path.join(folder, "moltravytext.bmp"), "wb") as f:
        f.write(b"earlier picture")
    before = sorted(os.listdir(folder))
    # 20 full stops, then 500 letters: a 98 MB picture.
    program = subprocess.Popen([WINE, "moltravytext.exe"], cwd=folder,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               env=ENV)
    program.stdin.write(b"." * 20 + b"q" * 500 + b"\n")
    program.stdin.close()
    deadline = time.time() + 60
    seen = False
    while not seen and time.time() < deadline and program.poll() is None:
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if name.startswith("moltravytext.bmp.") and \
                    os.path.getsize(path) > (1 << 20):
                seen = True
        time.sleep(0.005)
    if not seen:
        fail("the picture was never seen being written")
    program.send_signal(signal.SIGINT)
    program.stdout.read()
    status = program.wait()
    with open(os.path.join(folder, "moltravytext.bmp"), "rb") as f:
        kept = f.read()
    if status != CONTROLCEXIT or sorted(os.listdir(folder)) != before or \
            kept != b"earlier picture":
        fail("interrupted while storing: status %d, folder %r"
             % (status, sorted(set(os.listdir(folder)) - set(before))))
    print("winconsole: interrupted while storing, the folder is as it was")


def main():
    linux = os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as work:
        typedline(work, linux)
        controlc(work)
        interrupted(work)


if __name__ == "__main__":
    main()
