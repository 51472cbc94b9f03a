#!/usr/bin/env python3
"""A stand-in for a Chromium-family browser on its DevTools pipe: reads NUL-ended JSON
commands on descriptor 3 and answers on descriptor 4, the way the mode says.

Usage: fake_browser.py MODE PIDFILE [browser flags...]
It starts one helper process (as a browser starts renderers) and writes
"<own pid> <helper pid>" to PIDFILE.
  ok        answers like a browser showing a small page with one web font
  garbage   answers the first command with text that is not JSON
  silent    reads every command and never answers
  die       answers until the page is to be shown, then ends at once
  stubborn  like ok, but ignores Browser.close and SIGTERM
"""
import json
import os
import signal
import sys
import time

mode, pidfile = sys.argv[1], sys.argv[2]
helper = os.fork()
if helper == 0:
    time.sleep(120)
    os._exit(0)
with open(pidfile, "w") as f:
    f.write("%d %d\n" % (os.getpid(), helper))
if mode == "stubborn":
    signal.signal(signal.SIGTERM, signal.SIG_IGN)

PAGE = {"address": "http://127.0.0.1:9/final.htm",
        "text": "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>"
                "<p>built</p></body></html>",
        "frames": [{"address": "http://127.0.0.1:9/quillbox-frame-1.htm",
                    "text": "<html><body>frame</body></html>"}]}


def send(message):
    os.write(4, json.dumps(message).encode() + b"\0")


def event(method, params):
    send({"method": method, "params": params, "sessionId": "S"})


def answer(command):
    method, cid = command.get("method"), command.get("id")
    result = {}
    if method == "Target.createTarget":
        result = {"targetId": "T"}
    elif method == "Target.attachToTarget":
        result = {"sessionId": "S"}
    elif method == "Page.navigate":
        if mode == "die":
            os._exit(1)
        result = {"frameId": "F", "loaderId": "L"}
        send({"id": cid, "result": result})
        for rid, url, kind, status in (("1", "http://127.0.0.1:9/final.htm", "Document", 404),
                                       ("2", "http://127.0.0.1:9/used.ttf", "Font", 200)):
            event("Network.requestWillBeSent", {"requestId": rid, "request": {"url": url}})
            event("Network.responseReceived", {"requestId": rid, "type": kind, "frameId": "F",
                                               "response": {"url": url, "status": status}})
            event("Network.loadingFinished", {"requestId": rid})
        event("Page.loadEventFired", {})
        return
    elif method == "Runtime.evaluate":
        expression = command["params"]["expression"]
        value = json.dumps(PAGE) if "JSON.stringify" in expression else True
        result = {"result": {"type": "string", "value": value}}
    elif method == "Browser.close":
        if mode == "stubborn":
            return
        send({"id": cid, "result": {}})
        os._exit(0)
    send({"id": cid, "result": result})


pending = b""
while True:
    data = os.read(3, 65536)
    if not data:
        break
    pending += data
    while b"\0" in pending:
        text, _, pending = pending.partition(b"\0")
        command = json.loads(text)
        if mode == "silent":
            continue
        if mode == "garbage":
            os.write(4, b"{this is not json\0")
            continue
        answer(command)
time.sleep(60 if mode == "stubborn" else 0)
