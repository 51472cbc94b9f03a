#!/usr/bin/env python3
"""End to end for a page that looks like a modern one (tests/fixtures/modern): served by the
fixture server, packaged by quillbox, unpacked by spillet; headless Chromium renders it served
and offline (server stopped) and the two pictures must have the same pixels above the footer.
Also: the capture report on standard error and exit status 3 for the one missing picture;
--no-styles gives a page without its styles; a local page keeps its links as written and
carries no path of this machine; a full work folder is a reported failure.

Usage: styled_page.py --quillbox PATH --spillet PATH --site FOLDER --example FOLDER
                      [--shots FOLDER]   (writes the before/after pictures there)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import e2e_common
from e2e_common import FOOTER, check, failures, page_test_setup, start_server, stop_server

WINDOW = (800, 720)
FOOTER_TOP = 630  # the page block is 632 pixels high; the footer and what follows are below


def screenshot(url, path, work):
    return e2e_common.screenshot(url, path, work, WINDOW)


def differing_pixels(a, b, work):
    """Pixels that differ above the footer (ImageMagick's count)."""
    return e2e_common.differing_pixels(a, b, work, WINDOW[0], FOOTER_TOP)


def unpack(args, exe, dest, env):
    r = subprocess.run([args.spillet, exe, dest], env=env, capture_output=True, timeout=120,
                       stdin=subprocess.DEVNULL)
    pages = [n for n in os.listdir(dest) if n.endswith(".htm")] if r.returncode == 0 else []
    return r.returncode, pages


def main():
    setup = page_test_setup("qb-styled-")
    if setup is None:
        return 77
    args, work, env, site = setup

    server, port = start_server(site, os.path.join(work, "requests.log"))
    address = "http://127.0.0.1:%d/index.htm" % port
    try:
        served = os.path.join(work, "served.png")
        check(screenshot(address, served, work), "Chromium renders the served page")
        outputs = {}
        logs = {}
        for label, extra in (("styles", []), ("classic", ["--no-styles"])):
            exe = os.path.join(work, label + ".exe")
            start = os.path.getsize(os.path.join(work, "requests.log"))
            run = subprocess.run([args.quillbox, "-y", "-o", exe] + extra + [address], env=env,
                                 capture_output=True, text=True, timeout=120)
            outputs[label] = (exe, run)
            with open(os.path.join(work, "requests.log")) as f:
                logs[label] = f.read()[start:]
        _, run = outputs["styles"]
        check(run.returncode == 3, "written with an item missing: exit 3 (%d)" % run.returncode)
        summary = "captured 1 page, 0 frames, 11 pictures, 5 stylesheets, 1 font; 1 failed"
        check("quillbox: " + summary in run.stderr, "the summary line: " + run.stderr[-400:])
        check(re.search(r"quillbox: failed: picture http://127\.0\.0\.1:\d+/img/missing\.png "
                        r"\(QBT[0-9A-F]+\.png\): HTTP 404", run.stderr) is not None,
              "the missing picture is reported with its status")
        log = logs["styles"]
        check(log.count("/img/dot.png") == 1, "the picture used twenty times is fetched once")
        check(log.count("/css/cycle-a.css") == 1 and log.count("/css/cycle-b.css") == 1,
              "the import cycle ends with each stylesheet fetched once")
    finally:
        stop_server(server)

    # Offline: the server is gone; the unpacked folder must give the same picture.
    after = os.path.join(work, "offline.png")
    dest = os.path.join(work, "styled-out")
    code, pages = unpack(args, outputs["styles"][0], dest, env)
    check(code == 0 and len(pages) == 1, "spillet unpacks the page: %s" % pages)
    if pages:
        main = open(os.path.join(dest, pages[0]), "rb").read()
        # The link, and the picture that could not be fetched, point back at the server.
        web = (b'href="http://127.0.0.1:%d/programme.htm"' % port,
               b'src="http://127.0.0.1:%d/img/missing.png"' % port)
        check(b"127.0.0.1" not in main.replace(web[0], b"").replace(web[1], b"") and
              web[1] in main, "only the link and the missing picture point at the server")
        check(screenshot("file://" + os.path.join(dest, pages[0]), after, work),
              "Chromium renders the unpacked page")
        diff = differing_pixels(served, after, work)
        check(diff == 0, "same pixels above the footer, served and offline (%d differ)" % diff)
    before = os.path.join(work, "classic.png")
    dest = os.path.join(work, "classic-out")
    exe, run = outputs["classic"]
    check(run.returncode == 3, "--no-styles still packages (exit %d)" % run.returncode)
    code, pages = unpack(args, exe, dest, env)
    if pages:
        main = open(os.path.join(dest, pages[0]), "rb").read()
        check(not any(n.endswith(".css") for n in os.listdir(dest)), "--no-styles keeps no CSS")
        check(b'href="http://127.0.0.1:%d/css/site.css"' % port in main,
              "--no-styles points the stylesheet at the web")
        check(screenshot("file://" + os.path.join(dest, pages[0]), before, work),
              "Chromium renders the classic page")
        check(differing_pixels(before, after, work) > 10000, "the classic page looks different")
    if args.shots:
        for src, name in ((before, "styled-page-before.png"), (after, "styled-page-after.png")):
            if os.path.exists(src):
                shutil.copy(src, os.path.join(args.shots, name))

    local_page_keeps_its_links(args, work, env)
    full_work_folder_is_reported(args, work, env)
    if failures:
        print("%d failed; the files are in %s" % (len(failures), work))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


def hrefs(page):
    return re.findall(rb'(?i)\b(?:href|action)\s*=\s*"?([^"\s>]+)', page)


def local_page_keeps_its_links(args, work, env):
    """A local page packaged by its path: links as the page wrote them, every picture there,
    and no folder of this machine anywhere in what is unpacked."""
    example = os.path.realpath(args.example)
    exe = os.path.join(work, "local.exe")
    run = subprocess.run([args.quillbox, "-y", "-o", exe, os.path.join(example, "index.htm")],
                         env=env, capture_output=True, text=True, timeout=120, cwd=work)
    check(run.returncode == 0, "a local page packages (exit %d: %s)" % (run.returncode,
                                                                       run.stderr[-300:]))
    dest = os.path.join(work, "local-out")
    code, pages = unpack(args, exe, dest, env)
    check(code == 0, "spillet unpacks the local page")
    # Every link of the page and its frames, as they wrote them (the footer's link is the
    # one the packager adds).
    original = sorted(h for p in ("index.htm", "nav.htm", "main.htm")
                      for h in hrefs(open(os.path.join(example, p), "rb").read()))
    written = sorted(h for p in pages
                     for h in hrefs(open(os.path.join(dest, p), "rb").read().replace(FOOTER, b"")))
    check(len(pages) == 3 and original and written == original,
          "every link as the page wrote it: %s" % written)
    for name in os.listdir(dest):
        data = open(os.path.join(dest, name), "rb").read()
        check(example.encode() not in data and work.encode() not in data,
              "%s holds no path of this machine" % name)
        if name.endswith(".htm"):
            for ref in re.findall(rb'(?i)\b(?:src|background)="([^"]+)"', data):
                check(os.path.exists(os.path.join(dest, ref.decode())),
                      "%s: picture %s is there" % (name, ref.decode()))


def full_work_folder_is_reported(args, work, env):
    """The work folder on a tiny file system: a picture that does not fit is a reported
    failure (exit 3); a main page that does not fit fails the grab with the reason."""
    prog = os.path.join(work, "prog")
    os.makedirs(os.path.join(prog, "bin", "temp"))
    os.makedirs(os.path.join(prog, "share"))
    shutil.copy(args.quillbox, os.path.join(prog, "bin", "quillbox"))
    shutil.copytree(os.path.join(os.path.dirname(args.quillbox), "..", "share", "quillbox"),
                    os.path.join(prog, "share", "quillbox"))
    temp = os.path.join(prog, "bin", "temp")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", temp],
                      capture_output=True).returncode != 0:
        print("SKIP full work folder: cannot mount a small tmpfs here (needs root)")
        return
    site = os.path.join(work, "bigsite")
    os.makedirs(site)
    with open(os.path.join(site, "big.png"), "wb") as f:
        f.write(os.urandom(300000))
    with open(os.path.join(site, "index.htm"), "w") as f:
        f.write("<html><body><img src=big.png>small page</body></html>")
    with open(os.path.join(site, "long.htm"), "w") as f:
        f.write("<html><body>" + "a long page " * 20000 + "</body></html>")
    server, port = start_server(site, os.path.join(work, "big.log"))
    try:
        quillbox = os.path.join(prog, "bin", "quillbox")
        run = subprocess.run([quillbox, "-y", "-o", os.path.join(work, "big.exe"),
                              "http://127.0.0.1:%d/index.htm" % port], env=env,
                             capture_output=True, text=True, timeout=120)
        check(run.returncode == 3, "a picture the disk cannot take: exit 3 (%d)" % run.returncode)
        check("big.png" in run.stderr and "could not be written to the work folder" in run.stderr,
              "the picture's write failure is reported: " + run.stderr[-300:])
        run = subprocess.run([quillbox, "-y", "-o", os.path.join(work, "long.exe"),
                              "http://127.0.0.1:%d/long.htm" % port], env=env,
                             capture_output=True, text=True, timeout=120)
        check(run.returncode == 1, "a main page the disk cannot take fails (%d)" % run.returncode)
        check(re.fullmatch(r"quillbox: cannot fetch http://127\.0\.0\.1:\d+/long\.htm: The page "
                           r"cannot be written to \S+: No space left on device\.\n", run.stderr),
              "the main page's failure says why, in one line: " + run.stderr[-300:])
    finally:
        stop_server(server)
        subprocess.run(["umount", temp])


if __name__ == "__main__":
    sys.exit(main())
