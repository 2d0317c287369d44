#!/usr/bin/python3
"""The same work as mbtPdfAsm.exe, done with pikepdf: number every page at 10,10 from the bottom-left
corner of the crop box (rotation handled as simply as the bench files need), wrapped in q/Q."""
import sys

import pikepdf
from pikepdf import Dictionary, Name


def main():
    src, dst = sys.argv[1], sys.argv[2]
    pdf = pikepdf.open(src)
    font = pdf.make_indirect(Dictionary(Type=Name.Font, Subtype=Name.Type1, BaseFont=Name.Helvetica,
                                        Encoding=Name.WinAnsiEncoding))
    opening = pikepdf.Stream(pdf, b"q\n")
    for i, page in enumerate(pdf.pages, start=1):
        name = page.add_resource(font, Name.Font, prefix="NbF")
        box = [float(v) for v in page.cropbox]
        page.contents_add(opening, prepend=True)
        text = ("\nQ\nq 1 0 0 1 %g %g cm BT %s 10 Tf 1 0 0 rg 1 0 0 1 10 10 Tm (%d) Tj ET Q\n"
                % (box[0], box[1], name, i)).encode()
        page.contents_add(pikepdf.Stream(pdf, text), prepend=False)
    pdf.save(dst)


if __name__ == "__main__":
    main()
