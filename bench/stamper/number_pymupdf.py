#!/usr/bin/python3
"""The same work with PyMuPDF: insert the page number at 10,10 from the visible bottom-left corner."""
import sys

import fitz


def main():
    src, dst = sys.argv[1], sys.argv[2]
    doc = fitz.open(src)
    for i, page in enumerate(doc, start=1):
        rect = page.rect  # the visible page, unrotated coordinates with y down
        page.insert_text((10, rect.height - 10), str(i), fontname="helv", fontsize=10, color=(1, 0, 0))
    doc.save(dst, deflate=True)


if __name__ == "__main__":
    main()
