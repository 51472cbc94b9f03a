#!/usr/bin/env python3
"""An http address that moves to https (301 and 302), typed as a user types it: quillbox
packs the https page with its relative pictures, stylesheet and frame, and spillet unpacks
every one of them from the executable. A second page with a picture that cannot be fetched
comes out pointing at that picture's absolute address, and the run says it is incomplete.

Usage: moved_site_e2e.py --quillbox PATH --spillet PATH --sites FOLDER
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_common import check, failures, start_server, stop_server  # noqa: E402


def unpacked(folder):
    return {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillbox", required=True)
    ap.add_argument("--spillet", required=True)
    ap.add_argument("--sites", required=True)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qb-moved-")
    certs = os.path.join(work, "certs")
    os.makedirs(certs)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                    "-keyout", os.path.join(certs, "test.key"),
                    "-out", os.path.join(certs, "test.pem"), "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
               SSL_CERT_FILE=os.path.join(certs, "test.pem"),
               SSL_CERT_DIR=os.path.join(certs, "none"))
    # No page is opened after unpacking: xdg-open is "true".
    os.makedirs(os.path.join(work, "bin"))
    os.symlink(shutil.which("true"), os.path.join(work, "bin", "xdg-open"))
    env["PATH"] = os.path.join(work, "bin") + os.pathsep + env["PATH"]

    site = os.path.join(work, "site")
    shutil.copytree(os.path.join(args.sites, "moved"), os.path.join(site, "moved"))
    plain, plain_port = start_server(site, os.path.join(work, "plain.log"))
    secure, secure_port = start_server(site, os.path.join(work, "secure.log"),
                                       ["--cert", os.path.join(certs, "test.pem"),
                                        "--key", os.path.join(certs, "test.key")])
    moved = "https://127.0.0.1:%d/moved/index.htm" % secure_port
    with open(os.path.join(site, "moved", "broken.htm"), "w") as f:
        f.write('<html><body><img src="img/a.gif"><img src="img/gone.gif"></body></html>\n')
    pictures = {}
    for name in os.listdir(os.path.join(site, "moved", "img")):
        with open(os.path.join(site, "moved", "img", name), "rb") as f:
            pictures[f.read()] = name
    try:
        for code in ("301", "302"):
            # As typed: no scheme; the address box puts "http://" in front.
            typed = "127.0.0.1:%d/moved/go.htm?code=%s&to=%s" % (plain_port, code, moved)
            out = os.path.join(work, "moved-%s.exe" % code)
            run = subprocess.run([args.quillbox, "-y", "-o", out, typed], env=env,
                                 capture_output=True, text=True, timeout=120)
            check(run.returncode == 0, "%s: quillbox exits 0 (stderr: %s)"
                  % (code, run.stderr.strip()[-300:]))
            dest = os.path.join(work, "out-" + code)
            r = subprocess.run([args.spillet, out, dest], env=env, capture_output=True,
                               timeout=120, stdin=subprocess.DEVNULL)
            check(r.returncode == 0, "%s: spillet exits 0" % code)
            files = unpacked(dest) if os.path.isdir(dest) else {}
            got = sorted(pictures[v] for v in files.values() if v in pictures)
            check(got == sorted(pictures.values()),
                  "%s: the executable holds every picture: %s" % (code, got))
            pages = [k for k, v in files.items() if b"MOVED-" in v and k.endswith(".htm")]
            sheets = [k for k in files if k.endswith(".css")]
            check(len(pages) == 2 and len(sheets) == 1,
                  "%s: the page, its frame and its stylesheet: %s" % (code, sorted(files)))
            for name in pages + sheets:
                for ref in re.findall(rb'(?:src|background|href)="([^"]*)"|url\(([^)]*)\)',
                                      files[name]):
                    ref = (ref[0] or ref[1]).decode("latin-1")
                    if "://" not in ref:
                        check(ref in files, "%s: %s names %s, which is there" % (code, name, ref))

        # A picture that cannot be fetched: its reference is its absolute address.
        out = os.path.join(work, "broken.exe")
        run = subprocess.run([args.quillbox, "-y", "-o", out,
                              "https://127.0.0.1:%d/moved/broken.htm" % secure_port], env=env,
                             capture_output=True, text=True, timeout=120)
        gone = "https://127.0.0.1:%d/moved/img/gone.gif" % secure_port
        check(run.returncode == 3, "a missing picture: quillbox exits 3")
        check(re.search(r"failed: picture %s \(QBT\w+\.gif\): HTTP 404" % re.escape(gone),
                        run.stderr) is not None, "the report lists it: " + run.stderr.strip())
        dest = os.path.join(work, "out-broken")
        subprocess.run([args.spillet, out, dest], env=env, capture_output=True, timeout=120,
                       stdin=subprocess.DEVNULL)
        files = unpacked(dest) if os.path.isdir(dest) else {}
        page = [v for k, v in files.items() if k.endswith(".htm")]
        check(len(page) == 1 and ('<img src="%s">' % gone).encode() in page[0],
              "the saved page points at the missing picture's address")
        check(len(files) == 2, "the page and the picture that came: %s" % sorted(files))
    finally:
        stop_server(plain)
        stop_server(secure)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
