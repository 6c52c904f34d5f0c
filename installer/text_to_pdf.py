#!/usr/bin/env python3
"""Turns a plain text file into a small PDF (A4, Courier 10 pt, one line of
text per line, new pages as needed): the release notes the download server
offers beside each installer.

Usage: text_to_pdf.py <text file> <pdf file> [title]
"""
import sys

LINES_PER_PAGE = 64
WRAP = 92


def escape(line):
    return line.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def wrapped(text):
    for raw in text.splitlines():
        raw = raw.expandtabs(4).rstrip()
        while len(raw) > WRAP:
            cut = raw.rfind(" ", 0, WRAP)
            cut = WRAP if cut <= 0 else cut
            yield raw[:cut]
            raw = "  " + raw[cut:].lstrip()
        yield raw


def pdf(lines, title):
    pages = [lines[i:i + LINES_PER_PAGE] for i in range(0, max(len(lines), 1), LINES_PER_PAGE)] or [[]]
    objects = []  # bodies, numbered from 1

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    tree = add(None)
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>")
    kids = []
    for page in pages:
        ops = ["BT", "/F1 10 Tf", "12 TL", "56 790 Td"]
        for line in page:
            ops.append("(%s) '" % escape(line))
        ops.append("ET")
        stream = "\n".join(ops).encode("cp1252", "replace")
        content = add(b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream")
        kids.append(add(("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 %d 0 R >> >>"
                         " /Contents %d 0 R >>" % (tree, font, content)).encode()))
    objects[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % tree
    objects[tree - 1] = ("<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join("%d 0 R" % k for k in kids),
                                                                       len(kids))).encode()
    info = add(("<< /Title (%s) /Producer (Ventrix_P3D release) >>" % escape(title)).encode("cp1252", "replace"))

    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, catalog, info, xref)
    return bytes(out)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = list(wrapped(f.read()))
    title = sys.argv[3] if len(sys.argv) > 3 else "Release notes"
    data = pdf(lines, title)
    tmp = sys.argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    import os
    os.replace(tmp, sys.argv[2])


if __name__ == "__main__":
    main()
