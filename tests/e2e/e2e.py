#!/ usr / bin / env python3
"""End to end: a site served over HTTP -> quillbox -> self-extracting executable ->
spillet (Linux, or the Windows build under Wine) -> the extracted files.

Usage: e2e.py --quillbox PATH --site FOLDER [--spillet PATH] [--wine-spillet PATH]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from e2e_common import FOOTER, check, failures, start_server, stop_server


def cabinet_of(exe_bytes):
    base = struct.unpack_from("<I", exe_bytes, 124)[0]
    return base, exe_bytes[base:]


def cab_entries(cab):
    """(name, size, attributes) of every file entry, read from the records."""
    files_at = struct.unpack_from("<I", cab, 16)[0]
    count = struct.unpack_from("<H", cab, 28)[0]
    out, at = [], files_at
    for _ in range(count):
        size, _off, _folder, _date, _time, attrs = struct.unpack_from("<IIHHHH", cab, at)
        end = cab.index(b"\0", at + 16)
        out.append((cab[at + 16:end].decode("latin-1"), size, attrs))
        at = end + 1
    return out


def read_tree(folder):
    got = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            got[name] = f.read()
    return got


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--site", required=True)
    ap.add_argument("--spillet")
    ap.add_argument("--wine-spillet")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qb-e2e-")
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_CACHE_HOME=os.path.join(work, "cache"))
#A fake xdg - open first in PATH records what would be opened.
    fakebin = os.path.join(work, "bin")
    os.makedirs(fakebin)
    opened = os.path.join(work, "opened.log")
    with open(os.path.join(fakebin, "xdg-open"), "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % opened)
    os.chmod(os.path.join(fakebin, "xdg-open"), 0o755)
    env["PATH"] = fakebin + os.pathsep + env["PATH"]

    server, port = start_server(args.site, os.path.join(work, "requests.log"))
    try:
        out = os.path.join(work, "site.exe")
        address = "http://127.0.0.1:%d/index.htm" % port
        run = subprocess.run([args.quillbox, "-y", "-o", out, address], env=env,
                             capture_output=True, text=True, timeout=120)
        check(run.returncode == 0, "quillbox exits 0 (stderr: %s)" % run.stderr.strip()[-300:])
        check("Quillbox Lite is done zipping your web page(s) into %s.\n" % out == run.stdout,
              "done text printed, naming the output")
        with open(out, "rb") as f:
            exe = f.read()
        base, cab = cabinet_of(exe)
        check(cab[:4] == b"MSCF", "cabinet signature at the base")
        check(struct.unpack_from("<I", cab, 8)[0] == len(cab), "cabinet runs to the end")
        entries = cab_entries(cab)
        names = [e[0] for e in entries]
        marked = [e[0] for e in entries if e[2] & 0x40]
        check(len(marked) == 1 and marked[0].startswith("QBT") and marked[0].endswith(".htm"),
              "exactly the main page is marked: %s" % marked)
#Frames of the main page, the pictures of every page.
        pictures = sorted(open(os.path.join(args.site, "pics", p), "rb").read()
                          for p in os.listdir(os.path.join(args.site, "pics")))
        cabfile = os.path.join(work, "site.cab")
        with open(cabfile, "wb") as f:
            f.write(cab)
        for tool in (["cabextract", "-t", cabfile], ["7zz", "t", cabfile]):
            if shutil.which(tool[0]):
                r = subprocess.run(tool, capture_output=True, text=True)
                check(r.returncode == 0, "%s accepts the cabinet" % tool[0])
        peer = os.path.join(work, "peer")
        os.makedirs(peer)
        subprocess.run(["cabextract", "-q", "-d", peer, cabfile], check=True)
        reference = read_tree(peer)
        check(sorted(reference) == sorted(names), "peer extracts every entry")
        got_pictures = sorted(v for k, v in reference.items() if k.endswith(".png"))
        check(set(got_pictures) == set(pictures), "every picture arrived byte for byte")
        pages = {k: v for k, v in reference.items() if k.endswith(".htm")}
        check(len(pages) == 3, "main page and its two frames: %s" % sorted(pages))
        for k, v in pages.items():
            check(FOOTER in v, "%s carries the footer" % k)
            check(b"<script" not in v.lower(), "%s has no scripts" % k)
            check(b"\r\r\n" not in v, "%s has no doubled line ends" % k)
        main_page = reference[marked[0]]
        check(b'src="QBT' in main_page, "frames point at local copies")
#The history remembers the address.
        hist = subprocess.run([args.quillbox], env=env, capture_output=True, text=True)
        check("* " + address in hist.stdout, "history lists the address as the last one")

        if args.spillet:
            dest = os.path.join(work, "linux-out")
            r = subprocess.run([args.spillet, out, dest], env=env, capture_output=True,
                               timeout=120, stdin=subprocess.DEVNULL)
            check(r.returncode == 0, "spillet exits 0")
            check(read_tree(dest) == reference, "spillet extracts what the peer extracts")
            with open(opened) as f:
                launched = f.read().split("\n")[0]
            check(launched == os.path.join(dest, marked[0]), "the marked page is opened: " +
                  launched)
        if args.wine_spillet:
            dest = os.path.join(work, "wine-out")
            os.makedirs(dest)
            wenv = dict(env, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            wenv.setdefault("WINEPREFIX", os.path.join(work, "wineprefix"))
            # A fresh prefix knows no viewer for pages, and spillet would ask whether to
            # try the browser: register Wine's browser (which hands the page to our fake
            # xdg-open) as the viewer, as a desktop would have one.
            for key, value in (("HKCR\\.htm", "htmlfile"),
                               ("HKCR\\htmlfile\\shell\\open\\command", 'winebrowser "%1"')):
                subprocess.run(["wine", "reg", "add", key, "/ve", "/d", value, "/f"], env=wenv,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            if os.path.exists(opened):
                os.remove(opened)
            # Output goes to a file: a pipe would stay open while any Wine process lives.
            with open(os.path.join(work, "wine.log"), "wb") as log:
                try:
                    r = subprocess.run(["wine", args.wine_spillet,
                                        "Z:" + out.replace("/", "\\"),
                                        "Z:" + dest.replace("/", "\\")], env=wenv, stdout=log,
                                       stderr=subprocess.STDOUT, timeout=180,
                                       stdin=subprocess.DEVNULL)
                    code = r.returncode
                except subprocess.TimeoutExpired:
                    code = "timeout"
            subprocess.run(["wineserver", "-k"], env=wenv, timeout=60)
            check(code == 0, "spillet.exe under Wine exits 0 (%s)" % code)
            check(read_tree(dest) == reference, "spillet.exe extracts what the peer extracts")
            launched = open(opened).read().split("\n")[0] if os.path.exists(opened) else ""
            check(launched == "file://" + os.path.join(dest, marked[0]),
                  "the marked page goes to the browser: " + launched)
    finally:
        stop_server(server)
        if not failures:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
