#!/usr/bin/env python3
"""Writes a plain, uncompressed PDF of N pages, each with its own text and drawing, for the bench.

    make_large_pdf.py PAGES OUT.pdf

Compress it afterwards with qpdf (--object-streams=generate) for the compressed variant.
"""
import sys

WORDS = ("numbering pages quickly without losing anything that the page shows "
         "annotations outlines forms labels metadata encryption object streams").split()


def page_content(n):
    lines = ["q 0.9 0.9 0.95 rg 36 36 540 720 re f Q", "q 0.2 0.3 0.6 RG 2 w 36 760 m 576 760 l S Q",
             "BT /F1 18 Tf 1 0 0 1 72 730 Tm (Chapter %d) Tj ET" % (n // 10 + 1)]
    y = 700
    for k in range(40):
        text = " ".join(WORDS[(n + k + j) % len(WORDS)] for j in range(9))
        lines.append("BT /F1 10 Tf 1 0 0 1 72 %d Tm (%s) Tj ET" % (y, text))
        y -= 15
    for k in range(6):
        lines.append("q %d 0 0 %d %d %d cm 0.%d 0.4 0.4 rg 0 0 1 1 re f Q" % (20 + k, 10 + k, 72 + 60 * k, 60, k + 1))
    return ("\n".join(lines) + "\n").encode("latin-1")


def main():
    pages, out = int(sys.argv[1]), sys.argv[2]
    objects = {}  # number -> bytes
    font = 3
    objects[font] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>"
    kids = []
    next_num = 4
    for n in range(pages):
        page, content = next_num, next_num + 1
        next_num += 2
        data = page_content(n)
        objects[content] = b"<< /Length %d >>\nstream\n" % len(data) + data + b"endstream"
        objects[page] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                         b"/Resources << /Font << /F1 %d 0 R >> >> >>" % (content, font))
        kids.append(page)
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[2] = b"<< /Type /Pages /Count %d /Kids [%s] >>" % (pages, b" ".join(b"%d 0 R" % k for k in kids))
    with open(out, "wb") as f:
        f.write(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for num in sorted(objects):
            offsets[num] = f.tell()
            f.write(b"%d 0 obj\n" % num + objects[num] + b"\nendobj\n")
        xref = f.tell()
        size = max(objects) + 1
        f.write(b"xref\n0 %d\n0000000000 65535 f \n" % size)
        for num in range(1, size):
            f.write(b"%010d 00000 n \n" % offsets[num])
        f.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref))


if __name__ == "__main__":
    main()
