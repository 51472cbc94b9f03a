#!/usr/bin/env python3
"""Runs the built quillbox as a user would and checks its exit status and messages.

Every case gets a fresh home folder; stdin is never a terminal, so no case waits for
an answer.

Usage: quillbox_cli.py --quillbox PATH --page HTML --version X.Y.Z
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

ESC = "\x1b"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--page", required=True)
    ap.add_argument("--version", required=True)
    args = ap.parse_args()
    page = os.path.abspath(args.page)
    quillbox = os.path.abspath(args.quillbox)
    version = re.escape(args.version)

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
         r"(?s)Usage: quillbox .*-h, --help.*--version.*Exit status: 0 done; 1 failed.*2 bad"
         r" command line;\n3 written", None),
        ("-h", plain("-h"), 0, r"^Usage: quillbox ", None),
        ("--version", plain("--version"), 0, r"^quillbox " + version + r"\n$", None),
        ("an unknown short option", plain("-x", page), 2, None,
         r"quillbox: unknown option -x\.\n" + usage_hint),
        ("an unknown long option", plain("--frobnicate", page), 2, None,
         r"unknown option --frobnicate\.\n" + usage_hint),
        ("-o without its value", plain("-o"), 2, None, r"option -o needs a value\.\n" + usage_hint),
        ("two addresses", plain(page, page), 2, None, r"one ADDRESS only; there are 2\."),
        ("no address and an empty history", plain(), 2, None,
         r"no ADDRESS given, and the address history is empty\.\n" + usage_hint),
        ("a home folder that is a file", home_is_a_file, 1, None,
         r"The folder .*/not-a-folder/MyZips cannot be written: Not a directory\. "
         r"Give the output path with -o\."),
        ("a settings folder that cannot be made", settings_is_a_file, 0,
         r"done zipping",
         r"The settings folder .*/not-a-folder/Tarnwick cannot be written: Not a directory\. "
         r"The address will not be remembered\."),
        ("control characters in the history", history_with_escapes, 0,
         r"  http://a\.example/\n\* http://b\.example/\\x1b\[31mred\\x1b\]0;title\\x07\n", None),
        ("a control character in the output name", output_name_with_escape, 1, None,
         r"overwrite\n.*old\\x1b\[2J\.exe\?"),
        ("a control character in an address that fails", address_with_escape, 1, None,
         r"^quillbox: .*127\.0\.0\.1"),
    ]

    failures = []
    for name, setup, status, out_re, err_re in cases:
        with tempfile.TemporaryDirectory(prefix="qb-cli-") as scratch:
            home = os.path.join(scratch, "home")
            os.mkdir(home)
            env = {k: v for k, v in os.environ.items()
                   if k not in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "QB_TRACE")}
            env["HOME"] = home
            argv, extra = setup(home, scratch)
            env.update(extra)
            run = subprocess.run([quillbox] + argv, env=env, cwd=scratch,
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        out = run.stdout.decode("utf-8", "replace")
        err = run.stderr.decode("utf-8", "replace")
        problems = []
        if run.returncode != status:
            problems.append("exit status %d, expected %d" % (run.returncode, status))
        for stream, text, pattern in (("stdout", out, out_re), ("stderr", err, err_re)):
            if ESC in text:
                problems.append("a raw ESC on " + stream)
            if pattern is None and stream == "stdout" and text:
                problems.append("unexpected stdout")
            if pattern is not None and not re.search(pattern, text):
                problems.append("%s does not match %r" % (stream, pattern))
        if not err_re and status != 0 and not err.startswith("quillbox: "):
            problems.append("no message on stderr")
        print(("ok   " if not problems else "FAIL ") + name)
        if problems:
            print("     " + "; ".join(problems))
            print("     stdout: %r\n     stderr: %r" % (out, err))
            failures.append(name)
    print("%d of %d cases failed" % (len(failures), len(cases)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
