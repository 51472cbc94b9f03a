"""What the end-to-end scripts share: the fixture server, the footer every packaged page
ends with, and the record of checks."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "fixtures", "server", "server.py")
FOOTER = (b'<p><b>This page has been grabbed for free using <a href="http://www.tarnwick.example/'
          b'quillbox/" target="Quillbox">Quillbox Lite</a>!</b></p>\r\n')

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf"

failures = []


def page_test_setup(prefix):
    """The command line of the page tests (--quillbox, --spillet, --site, --example, --shots),
    paths made absolute, a scratch folder and an environment whose home and settings lie in
    it, and the site copied there with its web font. None when Chromium or ImageMagick is
    missing (the test is then skipped)."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--spillet", required=True)
    ap.add_argument("--site", required=True)
    ap.add_argument("--example", required=True)
    ap.add_argument("--shots")
    args = ap.parse_args()
    for name in ("quillbox", "spillet", "site", "example"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    for tool in ("chromium", "compare", "convert"):
        if not shutil.which(tool):
            print("SKIP: %s is not installed (tools/setup-debian.sh installs it)" % tool)
            return None
    work = tempfile.mkdtemp(prefix=prefix)
    env = program_env(work)
    site = os.path.join(work, "site")
    shutil.copytree(args.site, site)
    if os.path.exists(FONT):
        shutil.copy(FONT, os.path.join(site, "fonts", "display.ttf"))
    else:
        print("note: %s is missing; the web font is a stand-in file" % FONT)
        with open(os.path.join(site, "fonts", "display.ttf"), "wb") as f:
            f.write(b"not a font")
    return args, work, env, site


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


def screenshot(url, path, work, window, extra=()):
    """Headless Chromium's picture of a page in a window of that size, with a fresh profile."""
    profile = tempfile.mkdtemp(prefix="chromium-", dir=work)
    # File pages may use the fonts beside them (Chromium refuses file: fonts otherwise).
    subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    "--allow-file-access-from-files", "--hide-scrollbars",
                    "--user-data-dir=" + profile, "--screenshot=" + path,
                    "--window-size=%d,%d" % window] + list(extra) + [url],
                   capture_output=True, timeout=120)
    shutil.rmtree(profile, ignore_errors=True)
    return os.path.exists(path)


def differing_pixels(a, b, work, width, height):
    """Pixels that differ in the top width x height of two pictures (ImageMagick's count)."""
    crops = []
    for name, path in (("a", a), ("b", b)):
        out = os.path.join(work, "crop-%s.png" % name)
        subprocess.run(["convert", path, "-crop", "%dx%d+0+0" % (width, height),
                        "+repage", out], check=True)
        crops.append(out)
    r = subprocess.run(["compare", "-metric", "AE", crops[0], crops[1], "null:"],
                       capture_output=True, text=True)
    try:
        return int(float(r.stderr.split()[0]))
    except (ValueError, IndexError):
        return -1


def program_env(work):
    """The environment the programs run in: a home, settings and cache in work, and an
    xdg-open that opens nothing."""
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_CACHE_HOME=os.path.join(work, "cache"))
    fakebin = os.path.join(work, "bin")
    os.makedirs(fakebin)
    with open(os.path.join(fakebin, "xdg-open"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(fakebin, "xdg-open"), 0o755)
    env["PATH"] = fakebin + os.pathsep + env["PATH"]
    return env
