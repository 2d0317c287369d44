#!/usr/bin/env python3
"""Writes the example PDFs that the "Load Sample/Example Files" button lists. The outputs are committed;
run this again after a change. Plain PDF with the standard Helvetica fonts, no third-party modules,
and no dates, so the bytes only change when this script does.

Sample-Letter.pdf       a one-page letter
Sample-Report.pdf       a five-page report with a free strip at the bottom of every page for the number
Sample-Landscape.pdf    a landscape timetable
Sample-Newer-PDF17.pdf  a PDF 1.7 file, which the numbering run declines with its version message
"""
import textwrap
from pathlib import Path

HERE = Path(__file__).resolve().parent

A4 = (595, 842)
LETTER = (612, 792)


def escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


class Page:
    def __init__(self, size):
        self.size = size
        self.ops = []

    def text(self, x, y, line, size=11, bold=False):
        font = "/F2" if bold else "/F1"
        self.ops.append(f"BT {font} {size} Tf {x} {y} Td ({escape(line)}) Tj ET")

    def paragraph(self, x, y, text, width=90, size=11, leading=15):
        """Wraps text at width characters and returns the line below the paragraph."""
        for line in textwrap.wrap(text, width):
            self.text(x, y, line, size)
            y -= leading
        return y - leading // 2

    def rule(self, x1, y1, x2, y2, grey=0.6):
        self.ops.append(f"q {grey} G 0.75 w {x1} {y1} m {x2} {y2} l S Q")

    def box(self, x, y, w, h, grey=0.92):
        self.ops.append(f"q {grey} g {x} {y} {w} {h} re f Q")

    def content(self):
        return "\n".join(self.ops).encode("latin-1")


def write_pdf(path, pages, title, version="1.4"):
    objects = []  # bodies; object n is objects[n - 1]

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    tree = add(None)
    regular = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    bold = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>")
    kids = []
    for page in pages:
        data = page.content()
        stream = add(b"<< /Length %d >>\nstream\n" % len(data) + data + b"\nendstream")
        kids.append(
            add(
                (
                    f"<< /Type /Page /Parent {tree} 0 R /MediaBox [0 0 {page.size[0]} {page.size[1]}] "
                    f"/Resources << /Font << /F1 {regular} 0 R /F2 {bold} 0 R >> >> /Contents {stream} 0 R >>"
                ).encode()
            )
        )
    objects[catalog - 1] = f"<< /Type /Catalog /Pages {tree} 0 R >>".encode()
    refs = " ".join(f"{k} 0 R" for k in kids)
    objects[tree - 1] = f"<< /Type /Pages /Kids [{refs}] /Count {len(kids)} >>".encode()
    info = add(f"<< /Title ({escape(title)}) /Producer (Numbrel sample generator) >>".encode())

    out = bytearray(f"%PDF-{version}\n%\xe2\xe3\xcf\xd3\n".encode("latin-1"))
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += f"trailer\n<< /Size {len(objects) + 1} /Root {catalog} 0 R /Info {info} 0 R >>\n".encode()
    out += b"startxref\n%d\n%%%%EOF\n" % xref
    path.write_bytes(bytes(out))


def letter():
    p = Page(LETTER)
    p.text(72, 720, "Quillane Bookbinding Co.", 16, bold=True)
    p.text(72, 702, "14 Harbour Lane, Port Ellis", 10)
    p.rule(72, 690, 540, 690)
    p.text(72, 660, "12 March", 11)
    p.text(72, 630, "Dear Ms. Okafor,", 11)
    y = p.paragraph(
        72,
        605,
        "Thank you for sending the manuscript of your family history. We have looked through all "
        "three hundred pages and are glad to say that the book can be bound in the cloth you chose.",
    )
    y = p.paragraph(
        72,
        y,
        "Before we print, every page needs a page number at the bottom, so that the index at the end "
        "points to the right place. Please number the pages of your files and send them back to us; "
        "numbering all chapters in one batch keeps the numbers in step.",
    )
    y = p.paragraph(72, y, "We look forward to hearing from you.")
    p.text(72, y - 10, "Yours sincerely,", 11)
    p.text(72, y - 55, "Daniel Reyes", 11, bold=True)
    p.text(72, y - 70, "Production", 10)
    return [p]


REPORT_SECTIONS = [
    (
        "1. Summary",
        "Visitor numbers at the Port Ellis maritime museum rose in every quarter of the year. The new "
        "harbour gallery drew school groups from the whole region, and the evening openings in summer "
        "brought in many first-time visitors.",
    ),
    (
        "2. Visitors",
        "The museum counted 41,200 visitors, up from 35,900 the year before. Weekends remain the busiest "
        "days, but the share of weekday visits grew as schools booked the guided tours of the gallery.",
    ),
    (
        "3. Collections",
        "Volunteers catalogued 1,140 objects from the boatyard donation, photographed the ship models and "
        "moved the chart collection into the new climate-controlled store.",
    ),
    (
        "4. Finances",
        "Ticket sales covered just over half of the running costs. A grant from the harbour trust paid for "
        "the gallery lighting, and the shop did better than planned thanks to the new guidebook.",
    ),
    (
        "5. Next year",
        "The museum plans a second gallery for the lighthouse collection, longer opening hours in August and "
        "an online catalogue of the charts, with the first thousand records published in spring.",
    ),
]


REPORT_NOTES = [
    "The figure below shows visitors per quarter in thousands. The third quarter was the busiest, as "
    "every year, with the harbour festival in August.",
    "Group bookings made up a fifth of all visits. The museum society thanks the volunteer guides, who "
    "led more than four hundred tours.",
    "The conservation room treated the figurehead of the schooner Marigold, which is now on show in "
    "the entrance hall.",
    "The figure below compares income from tickets, the shop, grants, donations and room hire, in "
    "thousands.",
    "Members are invited to the annual meeting in the harbour gallery, where the plans will be shown "
    "in detail.",
]


def report():
    pages = []
    for number, (heading, text) in enumerate(REPORT_SECTIONS, start=1):
        p = Page(A4)
        p.text(56, 800, "Port Ellis Maritime Museum - Annual Report", 9)
        p.rule(56, 792, 539, 792)
        if number == 1:
            p.text(56, 740, "Annual Report", 24, bold=True)
            p.text(56, 716, "A year in numbers, for the members of the museum society", 12)
            y = 670
        else:
            y = 750
        p.text(56, y, heading, 15, bold=True)
        y -= 26
        y = p.paragraph(56, y, text, width=95)
        y = p.paragraph(56, y, REPORT_NOTES[number - 1], width=95)
        # Figures drawn as plain bars keep the file free of images.
        p.box(56, y - 150, 483, 140)
        for i, height in enumerate((60, 85, 70, 110, 95)):
            p.box(90 + i * 90, y - 140, 50, height, grey=0.45)
        # The strip below 90 points stays empty: that is where the page number goes.
        pages.append(p)
    return pages


def landscape():
    p = Page((A4[1], A4[0]))
    p.text(56, 540, "Harbour Ferry Timetable - Summer", 20, bold=True)
    p.text(56, 518, "Daily from June to September. Times are departures.", 11)
    columns = ["Stop", "First", "Morning", "Midday", "Afternoon", "Evening", "Last"]
    rows = [
        ["Port Ellis Quay", "06:40", "08:10", "12:00", "15:30", "18:45", "21:15"],
        ["Lighthouse Point", "06:55", "08:25", "12:15", "15:45", "19:00", "21:30"],
        ["Gull Island", "07:20", "08:50", "12:40", "16:10", "19:25", "21:55"],
        ["North Bay", "07:45", "09:15", "13:05", "16:35", "19:50", "22:20"],
        ["Mill Harbour", "08:05", "09:35", "13:25", "16:55", "20:10", "22:40"],
    ]
    x_positions = [56, 230, 320, 420, 510, 620, 720]
    y = 470
    p.box(50, y - 8, 742, 26)
    for x, name in zip(x_positions, columns):
        p.text(x, y, name, 12, bold=True)
    for row in rows:
        y -= 40
        p.rule(50, y + 28, 792, y + 28, grey=0.8)
        for x, cell in zip(x_positions, row):
            p.text(x, y, cell, 12)
    p.text(56, y - 60, "Tickets are sold on board. Bicycles travel free outside the morning departures.", 10)
    return [p]


def newer():
    p = Page(A4)
    p.text(56, 760, "A file saved as PDF 1.7", 18, bold=True)
    y = p.paragraph(
        56,
        725,
        "This sample is marked as PDF version 1.7. The numbering tool accepts files up to version 1.6, so "
        "Numbrel leaves this one out of the run and says why. Save such a file again as PDF 1.6 or older "
        "(many PDF printers and editors offer this) to number it.",
        width=95,
    )
    return [p]


def main():
    write_pdf(HERE / "Sample-Letter.pdf", letter(), "Letter to Ms. Okafor")
    write_pdf(HERE / "Sample-Report.pdf", report(), "Annual Report")
    write_pdf(HERE / "Sample-Landscape.pdf", landscape(), "Harbour Ferry Timetable")
    write_pdf(HERE / "Sample-Newer-PDF17.pdf", newer(), "A PDF 1.7 sample", version="1.7")


if __name__ == "__main__":
    main()
