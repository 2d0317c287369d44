#!/usr/bin/env python3
# Writes a one-page PDF whose content stream inflates to SIZE_MIB mebibytes of zero bytes (about a
# thousandth of that on disk), to measure what the numbering tool needs for such a page.
#   make_zeros_pdf.py OUT [SIZE_MIB, default 1024]
import sys
import zlib

out = sys.argv[1]
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
z = zlib.compressobj(9)
block = bytes(1 << 20)
parts = [z.compress(block) for _ in range(mib)]
parts.append(z.compress(b"\nBT /F1 24 Tf 72 720 Td (Zeros) Tj ET\n"))
parts.append(z.flush())
data = b"".join(parts)

objs = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data + b"\nendstream",
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
]
pdf = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for i, body in enumerate(objs, 1):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % i + body + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for off in offsets:
    pdf += b"%010d 00000 n \n" % off
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
with open(out, "wb") as f:
    f.write(pdf)
