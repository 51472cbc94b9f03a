"""What the end-to-end scripts share: the fixture server, the footer every packaged page
ends with, and the record of checks."""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "fixtures", "server", "server.py")
FOOTER = (b'<p><b>This page has been grabbed for free using <a href="http://www.tarnwick.example/'
          b'quillbox/" target="Quillbox">Quillbox Lite</a>!</b></p>\r\n')

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def start_server(root, log, extra=()):
    proc = subprocess.Popen([sys.executable, SERVER, "--root", root, "--log", log,
                             "--lifetime", "300"] + list(extra),
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().split()
    assert line and line[0] == "PORT", line
    return proc, int(line[1])


def stop_server(proc):
    proc.stdin.close()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
