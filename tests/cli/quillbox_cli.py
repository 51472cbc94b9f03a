#!/usr/bin/env python3
"""Runs the built quillbox and spillet as a user would and checks their exit status and
messages.

Every case gets a fresh home folder; stdin is never a terminal (it is /dev/null), so no
case waits for an answer, and none may ask. The programs run from a copy of their own
(program, extractor template), so that the work root beside the program belongs to this
test alone and can be checked for leftover work folders after every case.

Usage: quillbox_cli.py --quillbox PATH --spillet PATH --server PATH --page HTML
                       --version X.Y.Z
"""
import argparse
import fcntl
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

ESC = "\x1b"
BOX_TEXT = ("Please verify", "Netscape", "Unable to load", "not a valid Quillbox file path",
            "Failed to extract file")


class Server:
    """The fixture server on 127.0.0.1, with its request log."""

    def __init__(self, script, root, log):
        self.log = log
        self.proc = subprocess.Popen([sys.executable, script, "--root", root, "--log", log,
                                      "--lifetime", "600"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        assert line and line[0] == "PORT", line
        self.port = int(line[1])

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self):
        if not os.path.exists(self.log):
            return 0
        with open(self.log, encoding="latin-1") as f:
            return sum(1 for _ in f)

    def stop(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def install_copy(folder, program, extractor):
    """program in folder/bin, the extractor template in folder/share/quillbox."""
    os.makedirs(os.path.join(folder, "bin"))
    os.makedirs(os.path.join(folder, "share", "quillbox"))
    copy = os.path.join(folder, "bin", os.path.basename(program))
    shutil.copy2(program, copy)
    if os.path.exists(extractor):
        shutil.copy2(extractor, os.path.join(folder, "share", "quillbox"))
    return copy


def work_folders(root):
    if not os.path.isdir(root):
        return []
    return [n for n in os.listdir(root) if n.upper().startswith("~QB")]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--spillet", required=True)
    ap.add_argument("--server", required=True)
    ap.add_argument("--page", required=True)
    ap.add_argument("--version", required=True)
    args = ap.parse_args()
    page = os.path.abspath(args.page)
    version = re.escape(args.version)
    built = os.path.abspath(args.quillbox)
    extractor = os.path.join(os.path.dirname(built), "..", "share", "quillbox",
                             "ExtractQLBX_Lite.exe")
    if not os.path.exists(extractor):
        print("FAIL the extractor template %s is not built (build the win32 preset)" % extractor)
        return 1

    top = tempfile.mkdtemp(prefix="qb-cli-")
    quillbox = install_copy(os.path.join(top, "prog"), built, extractor)
    work_root = os.path.join(top, "prog", "bin", "temp")
    spillet = os.path.abspath(args.spillet)

    # The site: a page with a picture that arrives, one that never answers, and one whose
    # address redirects for ever.
    site = os.path.join(top, "site")
    os.makedirs(site)
    shutil.copy(os.path.join(os.path.dirname(page), "pics", "logo.png"), site)
    with open(os.path.join(site, "index.htm"), "w") as f:
        f.write('<html><body><img src="logo.png"><img src="http://127.0.0.1:1/gone.png">'
                '<img src="/_/loop">text</body></html>')
    server = Server(args.server, site, os.path.join(top, "requests.log"))

    failures = []
    count = [0]

    def report(name, problems, out, err):
        count[0] += 1
        print(("ok   " if not problems else "FAIL ") + name)
        if problems:
            print("     " + "; ".join(problems))
            print("     stdout: %r\n     stderr: %r" % (out[-2000:], err[-2000:]))
            failures.append(name)

    def environment(home, extra=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "QB_TRACE")}
        env["HOME"] = home
        env.update(extra or {})
        return env

    def run(program, argv, scratch, extra=None, timeout=120):
        home = os.path.join(scratch, "home")
        os.makedirs(home, exist_ok=True)
        r = subprocess.run([program] + argv, env=environment(home, extra), cwd=scratch,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8",
                                                                                 "replace")

    def common_problems(out, err, status, expect_status):
        problems = []
        if status != expect_status:
            problems.append("exit status %d, expected %d" % (status, expect_status))
        for stream, text in (("stdout", out), ("stderr", err)):
            if ESC in text:
                problems.append("a raw ESC on " + stream)
        if re.search(r"\[y/n", err, re.I):
            problems.append("a question was asked")
        if work_folders(work_root):
            problems.append("work folders left behind: %s" % work_folders(work_root))
        return problems

    # ---- Options, history and messages --------------------------------------------
    # name, setup(home, scratch) -> (argv, extra env), status, stdout pattern, stderr pattern.
    # Patterns are searched; None means the stream must be empty.
    def plain(*argv):
        return lambda home, scratch: (list(argv), {})

    def home_is_a_file(home, scratch):
        blocker = os.path.join(scratch, "not-a-folder")
        open(blocker, "w").close()
        return [page], {"HOME": blocker}

    def settings_is_a_file(home, scratch):
        blocker = os.path.join(scratch, "not-a-folder")
        open(blocker, "w").close()
        return ["-o", os.path.join(scratch, "out.exe"), page], {"XDG_CONFIG_HOME": blocker}

    def history_with_escapes(home, scratch):
        folder = os.path.join(home, ".config", "Tarnwick")
        os.makedirs(folder)
        with open(os.path.join(folder, "quillbox.ini"), "w") as f:
            f.write("[URL History]\n0=http://a.example/\n1=http://b.example/" + ESC +
                    "[31mred" + ESC + "]0;title\x07\nlast=1\nnumber=2\n")
        return [], {}

    def output_name_with_escape(home, scratch):
        out = os.path.join(scratch, "old" + ESC + "[2J.exe")
        open(out, "w").close()
        return ["-o", out, page], {}

    def address_with_escape(home, scratch):
        # Port 1 on the loopback: nothing listens, the connection is refused.
        return ["-o", os.path.join(scratch, "out.exe"),
                "http://127.0.0.1:1/page" + ESC + "[31m.htm"], {}

    usage_hint = r"Usage: quillbox .*\nTry 'quillbox --help'"
    cases = [
        ("--help", plain("--help"), 0,
         r"(?s)Usage: quillbox .*--no-styles.*-h, --help.*--version.*Exit status: 0 done; "
         r"1 failed.*2 bad command line;\n3 written", None),
        ("-h", plain("-h"), 0, r"^Usage: quillbox ", None),
        ("--version", plain("--version"), 0, r"^quillbox " + version + r"\n$", None),
        ("an unknown short option", plain("-x", page), 2, None,
         r"quillbox: unknown option -x\.\n" + usage_hint),
        ("an unknown long option", plain("--frobnicate", page), 2, None,
         r"unknown option --frobnicate\.\n" + usage_hint),
        ("a value for an option that takes none", plain("--help=1"), 2, None,
         r"^quillbox: option --help takes no value\.\n" + usage_hint),
        ("-o without its value", plain("-o"), 2, None, r"option -o needs a value\.\n" + usage_hint),
        ("two addresses", plain(page, page), 2, None, r"one ADDRESS only; there are 2\."),
        ("no address and an empty history", plain(), 2, None,
         r"no ADDRESS given, and the address history is empty\.\n" + usage_hint),
        ("a home folder that is a file", home_is_a_file, 1, None,
         r"The folder .*/not-a-folder/MyZips cannot be written: Not a directory\. "
         r"Give the output path with -o\."),
        ("a settings folder that cannot be made", settings_is_a_file, 0,
         r"done zipping your web page\(s\) into .*/out\.exe\.\n",
         r"The settings folder .*/not-a-folder/Tarnwick cannot be written: Not a directory\. "
         r"The address will not be remembered\."),
        ("control characters in the history", history_with_escapes, 0,
         r"  http://a\.example/\n\* http://b\.example/\\x1b\[31mred\\x1b\]0;title\\x07\n", None),
        ("a control character in the output name", output_name_with_escape, 1, None,
         r"^quillbox: .*/old\\x1b\[2J\.exe already exists; give -y to overwrite it\.\n$"),
        ("a control character in an address that fails", address_with_escape, 1, None,
         r"^quillbox: cannot fetch http://127\.0\.0\.1:1/page.*: Connection refused by "
         r"127\.0\.0\.1:1\.\n$"),
    ]
    for name, setup, status, out_re, err_re in cases:
        scratch = tempfile.mkdtemp(dir=top)
        home = os.path.join(scratch, "home")
        os.mkdir(home)
        argv, extra = setup(home, scratch)
        code, out, err = run(quillbox, argv, scratch, extra)
        problems = common_problems(out, err, code, status)
        for stream, text, pattern in (("stdout", out, out_re), ("stderr", err, err_re)):
            if pattern is None and stream == "stdout" and text:
                problems.append("unexpected stdout")
            if pattern is not None and not re.search(pattern, text):
                problems.append("%s does not match %r" % (stream, pattern))
        if not err_re and status != 0 and not err.startswith("quillbox: "):
            problems.append("no message on stderr")
        report(name, problems, out, err)

    # ---- A failed fetch: one line, the address and the cause, nothing left behind ----
    long_address = server.url("/" + "a" * 2100 + ".htm")
    fetch_failures = [
        ("a page the server does not have", server.url("/missing.htm"),
         re.escape(server.url("/missing.htm")) + r": The server answered 404 Not Found\."),
        ("a refused connection", "http://127.0.0.1:1/index.htm",
         r"http://127\.0\.0\.1:1/index\.htm: Connection refused by 127\.0\.0\.1:1\."),
        ("a redirect loop", server.url("/_/loop"),
         re.escape(server.url("/_/loop?n=")) + r"\d+: The server redirected more than 20 "
         r"times\."),
        ("a refused redirect", server.url("/_/redirect?code=302&to=ftp://127.0.0.1/x"),
         re.escape(server.url("/_/redirect?code=302&to=ftp://127.0.0.1/x")) +
         r": The server redirected to ftp://127\.0\.0\.1/x, which cannot be fetched\."),
        ("a body cut short", server.url("/_/early-close"),
         re.escape(server.url("/_/early-close")) + r": The connection to 127\.0\.0\.1:\d+ "
         r"broke while the page was read"),
        ("a password nobody can type", server.url("/_/status?code=401"),
         re.escape(server.url("/_/status?code=401")) +
         r": The server answered 401 Unauthorized\."),
        ("an address too long", long_address,
         re.escape(long_address) + r": The address is longer than 2083 characters\."),
        ("a local file that is not there", os.path.join(top, "nowhere.htm"),
         re.escape(os.path.join(top, "nowhere.htm")) + r": No such file\."),
        ("a local folder", top, re.escape(top) + r": It is a folder, not a file\."),
    ]
    for name, address, cause in fetch_failures:
        scratch = tempfile.mkdtemp(dir=top)
        code, out, err = run(quillbox, ["-o", os.path.join(scratch, "out.exe"), address],
                             scratch)
        problems = common_problems(out, err, code, 1)
        if not re.fullmatch(r"quillbox: cannot fetch " + cause + r"[^\n]*\n", err):
            problems.append("stderr is not the one line 'quillbox: cannot fetch ADDRESS: "
                            "CAUSE' (%s)" % cause)
        problems += ["box text on stderr: " + t for t in BOX_TEXT if t in err]
        if out:
            problems.append("unexpected stdout")
        if os.path.exists(os.path.join(scratch, "out.exe")):
            problems.append("an executable was written")
        report("fetch failure: " + name, problems, out, err)

    # ---- A bad output path: named with its cause before any request is made ---------
    def missing_folder(scratch):
        return os.path.join(scratch, "nope", "out.exe"), r"The folder .*/nope does not exist\."

    def not_exe(scratch):
        return os.path.join(scratch, "out.txt"), r".*/out\.txt does not end in \.exe\."

    def a_folder(scratch):
        os.mkdir(os.path.join(scratch, "dir.exe"))
        return os.path.join(scratch, "dir.exe"), r".*/dir\.exe is a folder\."

    def unwritable(scratch):
        if os.geteuid() == 0:
            # Root writes anywhere a mode allows: this folder takes no files from anyone.
            return "/sys/out.exe", r"No file can be created in the folder /sys: Permission denied\."
        folder = os.path.join(scratch, "ro")
        os.mkdir(folder)
        open(os.path.join(folder, "out.exe"), "w").close()
        os.chmod(folder, 0o555)
        return (os.path.join(folder, "out.exe"),
                r"No file can be created in the folder .*/ro: Permission denied\.")

    for name, setup in (("a missing folder", missing_folder), ("not .exe", not_exe),
                        ("a folder", a_folder), ("no write permission", unwritable)):
        scratch = tempfile.mkdtemp(dir=top)
        out_path, cause = setup(scratch)
        before = server.requests()
        code, out, err = run(quillbox, ["-y", "-o", out_path, server.url("/index.htm")], scratch)
        problems = common_problems(out, err, code, 1)
        if not re.fullmatch(r"quillbox: " + cause + r"\n", err):
            problems.append("stderr is not the one line 'quillbox: %s'" % cause)
        if server.requests() != before:
            problems.append("%d requests reached the server" % (server.requests() - before))
        report("output path: " + name, problems, out, err)

    # ---- The overwrite with nobody to ask -------------------------------------------
    scratch = tempfile.mkdtemp(dir=top)
    old = os.path.join(scratch, "old.exe")
    with open(old, "w") as f:
        f.write("an older executable")
    before = server.requests()
    code, out, err = run(quillbox, ["-o", old, server.url("/index.htm")], scratch)
    problems = common_problems(out, err, code, 1)
    if err != "quillbox: %s already exists; give -y to overwrite it.\n" % old:
        problems.append("not the one line naming -y")
    if open(old).read() != "an older executable" or server.requests() != before:
        problems.append("the old file changed or the page was fetched")
    report("an existing output and standard input that is not a terminal", problems, out, err)

    # ---- Written with items missing: each names its real cause ----------------------
    scratch = tempfile.mkdtemp(dir=top)
    exe = os.path.join(scratch, "page.exe")
    code, out, err = run(quillbox, ["-o", exe, server.url("/index.htm")], scratch)
    problems = common_problems(out, err, code, 3)
    if out != "Quillbox Lite is done zipping your web page(s) into %s.\n" % exe:
        problems.append("the done line does not name the output")
    for pattern in (r"quillbox: captured 1 page, 0 frames, 1 picture, .*; 2 failed\n",
                    r"failed: picture http://127\.0\.0\.1:1/gone\.png \(QBT\w+\.png\): Connection "
                    r"refused by 127\.0\.0\.1:1\.\n",
                    r"failed: picture \S+/_/loop \(\S+\): The server redirected more than 20 "
                    r"times\.\n"):
        if not re.search(pattern, err):
            problems.append("stderr does not match %r" % pattern)
    for wrong in ("HTTP 302", "no answer from the server"):
        if wrong in err:
            problems.append("a failure named %r instead of its cause" % wrong)
    report("written with items missing (exit 3)", problems, out, err)

    # ---- An installed program keeps its work folders in the user's cache ------------
    scratch = tempfile.mkdtemp(dir=top)
    installed = install_copy(os.path.join(scratch, "usr"), built, extractor)
    cache = os.path.join(scratch, "cache")
    path = os.path.dirname(installed) + os.pathsep + os.environ.get("PATH", "")
    code, out, err = run(installed, ["-o", os.path.join(scratch, "out.exe"),
                                     server.url("/missing.htm")], scratch,
                         {"PATH": path, "XDG_CACHE_HOME": cache})
    problems = common_problems(out, err, code, 1)
    beside = os.path.join(os.path.dirname(installed), "temp")
    if os.path.exists(beside):
        problems.append("a work root beside the installed program: " + beside)
    if not os.path.isdir(os.path.join(cache, "quillbox", "temp")):
        problems.append("no work root in the cache folder")
    if work_folders(os.path.join(cache, "quillbox", "temp")):
        problems.append("work folders left in the cache")
    report("an installed program works in the cache folder", problems, out, err)

    # ---- Ctrl-C while the page arrives ---------------------------------------------
    scratch = tempfile.mkdtemp(dir=top)
    home = os.path.join(scratch, "home")
    os.mkdir(home)
    before = server.requests()
    proc = subprocess.Popen([quillbox, "-o", os.path.join(scratch, "out.exe"),
                             server.url("/_/drip?gap=0.5&count=60")], env=environment(home),
                            cwd=scratch, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    deadline = time.monotonic() + 20
    while server.requests() == before and time.monotonic() < deadline:
        time.sleep(0.05)
    had_folder = bool(work_folders(work_root))
    time.sleep(0.5)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    out, err = out.decode(), err.decode()
    problems = common_problems(out, err, proc.returncode, 1)
    if not had_folder:
        problems.append("no work folder while the page arrived")
    if err != "quillbox: Cancelled; nothing was written.\n":
        problems.append("not the one line saying it was cancelled")
    report("Ctrl-C during the page", problems, out, err)

    # ---- The progress line fits a terminal of 60 columns ----------------------------
    scratch = tempfile.mkdtemp(dir=top)
    home = os.path.join(scratch, "home")
    os.mkdir(home)
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 60, 0, 0))
    # A slow page with a long address: the line shows the bytes in flight, beside the cut
    # address, while the one read for the page still waits.
    long_page = server.url("/_/drip?gap=0.2&count=12&pad=" + "p" * 120)
    proc = subprocess.Popen([quillbox, "-o", os.path.join(scratch, "out.exe"), long_page],
                            env=environment(home), cwd=scratch, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    shown = b""
    while True:
        ready, _, _ = select.select([master], [], [], 30)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    proc.wait(timeout=60)
    os.close(master)
    text = shown.decode("utf-8", "replace").replace(ESC + "[K", "")
    # The progress line's states, between the returns that redraw it; messages are apart.
    pieces = [p for p in re.split(r"[\r\n]", text) if p and not p.startswith("quillbox: ")]
    problems = []
    if not any("%" in p for p in pieces):
        problems.append("no progress line was drawn")
    too_wide = [p for p in pieces if len(p) > 60]
    if too_wide:
        problems.append("wider than 60 columns: %r" % too_wide[0])
    if ESC in text:
        problems.append("an escape other than the line clear")
    in_flight = [int(m.group(1)) for p in pieces
                 for m in [re.search(r"Opening http://\S*\.\.\. \((\d+) bytes\)$", p)] if m]
    if not any(0 < n < 12 for n in in_flight):
        problems.append("no count of the bytes in flight while the page arrived")
    report("the progress line under a terminal of 60 columns", problems, "", text)

    # ---- spillet: one line per message, no question without a terminal --------------
    scratch = tempfile.mkdtemp(dir=top)
    local_exe = os.path.join(scratch, "local.exe")
    code, out, err = run(quillbox, ["-o", local_exe, page], scratch)
    report("a local page packed for spillet", [] if code == 0 else ["exit %d" % code], out, err)
    fakebin = os.path.join(scratch, "fakebin")
    os.mkdir(fakebin)
    with open(os.path.join(fakebin, "xdg-open"), "w") as f:
        f.write("#!/bin/sh\nfor i in 1 2 3 4 5 6 7 8; do echo \"xdg-open: noise $i\" >&2; done\n"
                "echo 'xdg-open: no method available for opening it' >&2\nexit 3\n")
    os.chmod(os.path.join(fakebin, "xdg-open"), 0o755)
    no_browser = {"PATH": fakebin + os.pathsep + os.environ.get("PATH", "")}
    dest = os.path.join(scratch, "out")
    with open(local_exe, "rb") as f:
        whole = f.read()
    base = struct.unpack_from("<I", whole, 124)[0]
    cut_early = os.path.join(scratch, "early.exe")
    cut_late = os.path.join(scratch, "late.exe")
    with open(cut_early, "wb") as f:
        f.write(whole[:base // 2])
    with open(cut_late, "wb") as f:
        f.write(whole[:base + 100])
    text_file = os.path.join(scratch, "notes.exe")
    with open(text_file, "w") as f:
        f.write("just text\n")
    index = os.path.join(dest, "index.htm")
    spillet_cases = [
        # name, argv, status, stderr pattern (the whole of it)
        ("a browser that fails", [local_exe, dest], 0,
         r"spillet: xdg-open could not open the page \(xdg-open: no method available for "
         r"opening it\); it is " + re.escape(index) + r"\.\n"),
        ("an older page in the way", [local_exe, dest], 1,
         r"spillet: An older page is in the way and nobody can be asked whether to replace it "
         r"\(standard input is not a terminal\), so the unpacking stopped\. File " +
         re.escape(index) + r" already exists\. Remove it or unpack into another folder\.\n"),
        ("a folder as input", [scratch, os.path.join(scratch, "o2")], 1,
         r"spillet: Cannot open " + re.escape(scratch) + r": Is a directory\.\n"),
        ("an executable cut early", [cut_early, os.path.join(scratch, "o3")], 1,
         r"spillet: " + re.escape(cut_early) + r" is damaged or cut short\.\n"),
        ("an executable cut late", [cut_late, os.path.join(scratch, "o4")], 1,
         r"spillet: " + re.escape(cut_late) + r" is damaged or cut short\.\n"),
        ("not an archive", [text_file, os.path.join(scratch, "o5")], 1,
         r"spillet: " + re.escape(text_file) + r" is not a self-extracting file made by "
         r"Quillbox\.\n"),
    ]
    for name, argv, status, pattern in spillet_cases:
        code, out, err = run(spillet, argv, scratch, no_browser)
        problems = common_problems(out, err, code, status)
        # Without a terminal the progress is a plain line per file; the rest is messages.
        said = "".join(line for line in err.splitlines(True)
                       if not re.fullmatch(r'Extracting ".*"\n', line))
        if not re.fullmatch(pattern, said):
            problems.append("the messages are not %r" % pattern)
        if "noise" in err:
            problems.append("xdg-open's own lines came through")
        report("spillet: " + name, problems, out, err)

    server.stop()
    print("%d of %d cases failed" % (len(failures), count[0]))
    if not failures:
        shutil.rmtree(top, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
