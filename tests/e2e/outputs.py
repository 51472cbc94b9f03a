#!/usr/bin/env python3
"""End to end for the outputs beside the executable: the styled page of tests/fixtures/modern,
served by the fixture server, packaged once per output kind (NAME.exe, DIR/, NAME.html,
NAME.mhtml). With the server stopped, headless Chromium renders the executable's unpacked page,
the folder's page, the single HTML file (alone in an empty folder) and the web archive; every
picture must have the executable's pixels above the footer. The single file refers to no file
outside itself: the scan of its references finds only data: and web addresses. A local page
with frames (examples/site): the single file (its frames as data: addresses) and the folder
look like the executable's unpacked page too.

Usage: outputs.py --quillbox PATH --spillet PATH --site FOLDER --example FOLDER
                  [--shots FOLDER]
"""
import base64
import html.parser
import os
import re
import shutil
import subprocess
import sys

from e2e_common import check, failures, page_test_setup, start_server, stop_server
from styled_page import differing_pixels, screenshot, unpack

# Attributes whose value the browser loads as part of the page (links are left alone).
LOADED = {"src", "background", "poster", "data", "srcset"}


class References(html.parser.HTMLParser):
    """Every address a page loads: its embedded sources, stylesheets and icons, and the url()s
    and @imports of its style elements and attributes, with those of the pages and stylesheets
    inside its data: addresses."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.found = []
        self.in_style = False

    def handle_starttag(self, tag, attrs):
        attrs = dict((k, v or "") for k, v in attrs)
        for name, value in attrs.items():
            if name in LOADED:
                if name == "srcset":
                    self.found += [c.split()[0] for c in re.split(r",\s+", value) if c.strip()]
                else:
                    self.found.append(value)
            if name == "style":
                self.found += css_references(value)
        rel = attrs.get("rel", "").lower().split()
        if tag == "link" and "href" in attrs and {"stylesheet", "icon", "preload"} & set(rel):
            self.found.append(attrs["href"])
        self.in_style = tag == "style"

    def handle_endtag(self, tag):
        self.in_style = False

    def handle_data(self, data):
        if self.in_style:
            self.found += css_references(data)


def css_references(css):
    """The url()s and @import strings of a CSS text; comments and other strings are no
    reference."""
    css = re.sub(r"/\*.*?\*/", "", css, flags=re.S)
    refs = []
    for m in re.finditer(r"""(?i)url\(\s*(?:"([^"]*)"|'([^']*)'|([^)]*))\s*\)"""
                         r"""|@import\s+(?:"([^"]*)"|'([^']*)')|"(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*'""",
                         css):
        value = next((g for g in m.groups() if g is not None), None)
        if value is not None:
            refs.append(value.strip())
    return refs


def all_references(page_text):
    """(address, where) for every address the page and what it embeds load."""
    out = []
    todo = [("page", page_text, "text/html")]
    while todo:
        where, text, kind = todo.pop()
        if kind == "text/html":
            parser = References()
            parser.feed(text)
            refs = parser.found
        else:
            refs = css_references(text)
        for ref in refs:
            out.append((ref, where))
            m = re.match(r"data:(text/html|text/css);base64,(.*)", ref, re.S)
            if m:
                inner = base64.b64decode(m.group(2)).decode("utf-8", "replace")
                todo.append((where + " > " + m.group(1), inner, m.group(1)))
    return out


def main():
    setup = page_test_setup("qb-outputs-")
    if setup is None:
        return 77
    args, work, env, site = setup

    outputs = {"exe": os.path.join(work, "page.exe"), "folder": os.path.join(work, "folder/"),
               "html": os.path.join(work, "page.html"),
               "mhtml": os.path.join(work, "page.mhtml")}
    server, port = start_server(site, os.path.join(work, "requests.log"))
    try:
        address = "http://127.0.0.1:%d/index.htm" % port
        for label, out in outputs.items():
            run = subprocess.run([args.quillbox, "-y", "-o", out, address], env=env,
                                 capture_output=True, text=True, timeout=120)
            # The fixture's one missing picture: written, with an item missing.
            check(run.returncode == 3, "-o %s: written, exit 3 (%d: %s)"
                  % (os.path.basename(out.rstrip("/")) + ("/" if out.endswith("/") else ""),
                     run.returncode, run.stderr[-300:]))
    finally:
        stop_server(server)

    shots = {}
    dest = os.path.join(work, "unpacked")
    code, pages = unpack(args, outputs["exe"], dest, env)
    check(code == 0 and len(pages) == 1, "spillet unpacks the executable: %s" % pages)
    if pages:
        shots["exe"] = os.path.join(work, "exe.png")
        check(screenshot("file://" + os.path.join(dest, pages[0]), shots["exe"], work),
              "Chromium renders the unpacked page")
        folder = outputs["folder"].rstrip("/")
        check(sorted(os.listdir(folder)) == sorted(os.listdir(dest)),
              "the folder holds what the executable unpacks")
        for name in os.listdir(dest):
            with open(os.path.join(dest, name), "rb") as a, \
                    open(os.path.join(folder, name), "rb") as b:
                check(a.read() == b.read(), "folder: %s as unpacked" % name)
        shots["folder"] = os.path.join(work, "folder.png")
        check(screenshot("file://" + os.path.join(folder, pages[0]), shots["folder"], work),
              "Chromium renders the folder's page")

    # The single file alone in an empty folder: whatever it showed from another file
    # would be missing from the picture.
    alone = os.path.join(work, "alone")
    os.makedirs(alone)
    single = os.path.join(alone, "page.html")
    shutil.copy(outputs["html"], single)
    shots["html"] = os.path.join(work, "html.png")
    check(screenshot("file://" + single, shots["html"], work), "Chromium renders the single file")
    text = open(single, "rb").read().decode("utf-8", "replace")
    refs = all_references(text)
    outside = [(r, w) for r, w in refs
               if r and not r.startswith(("data:", "#", "about:")) and
               not re.match(r"https?://", r)]
    check(refs and not outside, "the single file loads only data: and web addresses: %s"
          % outside[:5])
    # The only web address it loads is the picture the grab could not fetch, which points
    # back at the web in every output.
    web = sorted(set(r for r, _ in refs if re.match(r"https?://", r)))
    check(len(web) == 1 and web[0].endswith("/img/missing.png"),
          "nor does it load from the web but the picture that failed: %s" % web)
    check(len(text.encode()) < 3 * 1024 * 1024, "the single file stays mailable (%d bytes)"
          % len(text.encode()))

    shots["mhtml"] = os.path.join(work, "mhtml.png")
    check(screenshot("file://" + outputs["mhtml"], shots["mhtml"], work),
          "Chromium opens the web archive")

    if "exe" in shots:
        for label in ("folder", "html", "mhtml"):
            if os.path.exists(shots.get(label, "")):
                diff = differing_pixels(shots["exe"], shots[label], work)
                check(diff == 0, "%s: the executable's pixels above the footer (%d differ)"
                      % (label, diff))
    framed_local_page(args, work, env)
    if args.shots:
        for label, path in shots.items():
            if os.path.exists(path):
                shutil.copy(path, os.path.join(args.shots, "output-%s.png" % label))
    if failures:
        print("%d failed; the files are in %s" % (len(failures), work))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


def framed_local_page(args, work, env):
    """A local page of two frames, packaged as the executable, the single file and the folder:
    all three give the same picture."""
    base = os.path.join(work, "framed")
    os.makedirs(base)
    outs = {"exe": os.path.join(base, "f.exe"), "html": os.path.join(base, "f.html"),
            "folder": os.path.join(base, "f/")}
    page = os.path.join(os.path.realpath(args.example), "index.htm")
    for label, out in outs.items():
        run = subprocess.run([args.quillbox, "-y", "-o", out, page], env=env,
                             capture_output=True, text=True, timeout=120, cwd=work)
        check(run.returncode == 0, "framed page, %s: written (%d)" % (label, run.returncode))
    code, pages = unpack(args, outs["exe"], os.path.join(base, "unpacked"), env)
    urls = {"exe": "file://" + os.path.join(base, "unpacked", "index.htm"),
            "html": "file://" + outs["html"],
            "folder": "file://" + os.path.join(outs["folder"], "index.htm")}
    shots = {}
    for label, url in urls.items():
        shots[label] = os.path.join(base, label + ".png")
        check(screenshot(url, shots[label], work), "framed page, %s: rendered" % label)
    for label in ("html", "folder"):
        diff = differing_pixels(shots["exe"], shots[label], work)
        check(diff == 0, "framed page, %s: the executable's pixels (%d differ)" % (label, diff))


if __name__ == "__main__":
    sys.exit(main())
