#!/usr/bin/env python3
# Stands in for freecadcmd where a test needs a FreeCAD that answers, but slowly: it speaks
# the bridge's framing on the descriptors krepiks-freecad passes, and holds every answer to a
# request naming an .FCStd file for KREPIKS_TEST_FREECAD_DELAY seconds.
import os
import sys
import time

fin = int(os.environ["KREPIKS_FREECAD_IN"])
fout = int(os.environ["KREPIKS_FREECAD_OUT"])
delay = float(os.environ.get("KREPIKS_TEST_FREECAD_DELAY", "5"))


def answer(text):
    data = text.encode("utf-8")
    os.write(fout, b"%d\n" % len(data) + data)


answer("ok ready")
pending = b""
while True:
    chunk = os.read(fin, 1 << 16)
    if not chunk:
        sys.exit(0)
    pending += chunk
    while True:
        head, sep, rest = pending.partition(b"\n")
        if not sep or len(rest) < int(head):
            break
        request, pending = rest[: int(head)], rest[int(head):]
        if b".FCStd" in request:
            time.sleep(delay)
        if request.startswith(b"template_planes("):
            answer("ok Сверху|0.0 0.0 0.0|0.0 1.0 0.0|1.0 0.0 0.0")
        elif request.startswith(b"describe("):
            answer("ok gui\t0")
        else:
            answer("ok ")
