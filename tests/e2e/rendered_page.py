#!/usr/bin/env python3
"""End to end for the rendered capture (quillbox --render) with Debian's chromium: pages
that scripts build or finish (tests/fixtures/rendered) are served, captured through the
browser, unpacked by spillet and rendered offline (server stopped); each must match the
live page above the footer to within 0.5 % of its pixels. Also: the font the page declares
but never uses is left out; the picture that only an IntersectionObserver loads is kept;
without --render the script-built page is still the page's source ("Loading...").
--verify: a faithful copy reports a high figure (exit 0); a copy that lacks a picture the
server gives only to the browser (behind a cookie its script set) a low one (exit 3).

Usage: rendered_page.py --quillbox PATH --spillet PATH --site FOLDER
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

from e2e_common import (FOOTER, check, differing_pixels, failures, program_env, screenshot,
                        start_server, stop_server)

FONTS = {"used.ttf": "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
         "unused.ttf": "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"}
WINDOW = (1280, 2400)
# The page and how high its block is: the footer and what follows are below it.
PAGES = [("script_body.htm", 1000), ("insert_rule.htm", 1000), ("shadow.htm", 1000),
         ("lazy_picture.htm", 2200), ("canvas.htm", 1000), ("script_frame.htm", 1000),
         ("unused_font.htm", 1000)]
MAX_DIFFERING = 0.005
# The live page is shot once its late pictures have come in.
SETTLED = ["--virtual-time-budget=5000"]


def png(width, height, rgb):
    """A picture of one colour, made here so that no binary sits in the fixtures."""
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def main_page(folder):
    """The unpacked page that no other page names (the frames are named by it)."""
    pages = [n for n in os.listdir(folder) if n.endswith(".htm")]
    named = b"".join(open(os.path.join(folder, p), "rb").read() for p in pages)
    main = [p for p in pages if named.count(p.encode()) == 0]
    return main[0] if len(main) == 1 else None


def files_like(folder, path):
    data = open(path, "rb").read()
    return [n for n in os.listdir(folder) if open(os.path.join(folder, n), "rb").read() == data]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--spillet", required=True)
    ap.add_argument("--site", required=True)
    args = ap.parse_args()
    for tool in ("chromium", "compare", "convert"):
        if not shutil.which(tool):
            print("SKIP: %s is not installed (tools/setup-debian.sh installs it)" % tool)
            return 77
    if not all(os.path.exists(f) for f in FONTS.values()):
        print("SKIP: the DejaVu fonts are missing (fonts-dejavu-core)")
        return 77
    work = tempfile.mkdtemp(prefix="qb-rendered-")
    env = program_env(work)

    site = os.path.join(work, "site")
    shutil.copytree(os.path.abspath(args.site), site)
    os.makedirs(os.path.join(site, "pictures"))
    os.makedirs(os.path.join(site, "fonts"))
    with open(os.path.join(site, "pictures", "blue.png"), "wb") as f:
        f.write(png(200, 150, (40, 90, 200)))
    for name, source in FONTS.items():
        shutil.copy(source, os.path.join(site, "fonts", name))

    server, port = start_server(site, os.path.join(work, "requests.log"))
    try:
        for page, _ in PAGES:
            address = "http://127.0.0.1:%d/%s" % (port, page)
            check(screenshot(address, os.path.join(work, page + ".live.png"), work, WINDOW,
                             SETTLED), "Chromium renders the live %s" % page)
            run = subprocess.run([args.quillbox, "--render", "-y", "-o",
                                  os.path.join(work, page + ".exe"), address], env=env,
                                 capture_output=True, text=True, timeout=180)
            check(run.returncode == 0, "%s: quillbox --render packages it (exit %d: %s)"
                  % (page, run.returncode, run.stderr[-400:]))
        static = subprocess.run([args.quillbox, "-y", "-o", os.path.join(work, "static.exe"),
                                 "http://127.0.0.1:%d/script_body.htm" % port], env=env,
                                capture_output=True, text=True, timeout=180)
        check(static.returncode == 0, "the static capture still works (%d)" % static.returncode)
        verified = {}
        for page in ("canvas.htm", "cookie_picture.htm"):
            verified[page] = subprocess.run(
                [args.quillbox, "--verify", "-y", "-o", os.path.join(work, "verify.exe"),
                 "http://127.0.0.1:%d/%s" % (port, page)], env=env, capture_output=True,
                text=True, timeout=180)
    finally:
        stop_server(server)

    # Offline: the server is gone.
    for page, height in PAGES:
        dest = os.path.join(work, page + ".out")
        r = subprocess.run([args.spillet, os.path.join(work, page + ".exe"), dest], env=env,
                           capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
        name = main_page(dest) if r.returncode == 0 else None
        check(name is not None, "%s: spillet unpacks one main page" % page)
        if name is None:
            continue
        text = open(os.path.join(dest, name), "rb").read()
        check(FOOTER in text and b"<script" not in text.lower(),
              "%s: the footer is added and the scripts are gone" % page)
        offline = os.path.join(work, page + ".offline.png")
        check(screenshot("file://" + os.path.join(dest, name), offline, work, WINDOW),
              "%s: Chromium renders the unpacked page" % page)
        diff = differing_pixels(os.path.join(work, page + ".live.png"), offline, work,
                                WINDOW[0], height)
        share = diff / float(WINDOW[0] * height)
        check(0 <= share <= MAX_DIFFERING,
              "%s: offline as live above the footer (%d pixels, %.3f %% differ)"
              % (page, diff, share * 100))
        if page == "unused_font.htm":
            check(files_like(dest, FONTS["used.ttf"]) != [], "the font the page uses is kept")
            check(files_like(dest, FONTS["unused.ttf"]) == [],
                  "the font the page never uses is left out")
        if page == "lazy_picture.htm":
            check(files_like(dest, os.path.join(site, "pictures", "blue.png")) != [],
                  "the picture that loads when seen is kept")
    for page, low in (("canvas.htm", False), ("cookie_picture.htm", True)):
        run = verified[page]
        figure = re.search(r"quillbox: offline copy matches the live page: (\d+\.\d) %",
                           run.stderr)
        check(figure is not None, "%s: --verify gives the figure: %s" % (page, run.stderr[-300:]))
        if figure:
            value = float(figure.group(1))
            check(value < 97.0 if low else value >= 99.0,
                  "%s: the figure is %s (%s)" % (page, "low" if low else "high", value))
        check(run.returncode == (3 if low else 0),
              "%s: --verify exits %d (%d)" % (page, 3 if low else 0, run.returncode))
        check("failed:" not in run.stderr, "%s: no item is reported missing" % page)
    no_browser_is_a_clear_failure(args, work, env)
    dest = os.path.join(work, "static.out")
    if subprocess.run([args.spillet, os.path.join(work, "static.exe"), dest], env=env,
                      capture_output=True, timeout=120, stdin=subprocess.DEVNULL).returncode == 0:
        name = main_page(dest)
        check(name is not None and
              b"Loading..." in open(os.path.join(dest, name), "rb").read(),
              "without --render the page is its source, as before")
    if failures:
        print("%d failed; the files are in %s" % (len(failures), work))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


def no_browser_is_a_clear_failure(args, work, env):
    """Without a browser to drive, --render says what it looked for and how to name one,
    fails (exit 1) and writes nothing."""
    fakebin = os.path.join(work, "bin")
    for what, extra in (("QB_BROWSER names nothing", {"QB_BROWSER": "/nowhere/browser"}),
                        ("none on the PATH", {"PATH": fakebin})):
        own = dict(env, **extra)
        if "QB_BROWSER" not in extra:
            own.pop("QB_BROWSER", None)
        exe = os.path.join(work, "none.exe")
        run = subprocess.run([os.path.abspath(args.quillbox), "--render", "-y", "-o", exe,
                              "http://127.0.0.1:1/page.htm"], env=own, capture_output=True,
                             text=True, timeout=60)
        said = ("QB_BROWSER names /nowhere/browser" if "QB_BROWSER" in extra else
                "chromium, chromium-browser and google-chrome are not on the PATH")
        check(run.returncode == 1 and said in run.stderr and not os.path.exists(exe),
              "%s: exit 1, the message, nothing written (%d: %s)"
              % (what, run.returncode, run.stderr[-300:]))


if __name__ == "__main__":
    sys.exit(main())
