#include "PdfWriter.h"

#include <algorithm>
#include <tuple>
#include <vector>

QByteArray PdfStream(const QByteArray& data, const QByteArray& entries) {
    return "<< /Length " + QByteArray::number(data.size()) + entries + " >>\nstream\n" + data + "\nendstream";
}

namespace {

struct Entry {
    int type = 1;
    long long second = 0; // offset, object stream number, next free object
    int third = 0;        // generation, index in the object stream
};

QByteArray field(long long value, int width) {
    QByteArray out(width, '\0');
    for (int k = width - 1; k >= 0; --k, value >>= 8)
        out[k] = char(value & 0xff);
    return out;
}

// Runs of consecutive numbers among `numbers` (sorted): first and count.
std::vector<std::pair<int, int>> runs(const std::vector<int>& numbers) {
    std::vector<std::pair<int, int>> out;
    for (int n : numbers) {
        if (!out.empty() && out.back().first + out.back().second == n)
            ++out.back().second;
        else
            out.emplace_back(n, 1);
    }
    return out;
}

} // namespace

QByteArray PdfFile(const QList<PdfRevision>& revisions, const QByteArray& header) {
    QByteArray pdf = header;
    long long previous = -1;
    long long size = 0;
    for (int r = 0; r < revisions.size(); ++r) {
        const PdfRevision& rev = revisions[r];
        std::map<int, Entry> entries;
        if (r == 0)
            entries[0] = {0, 0, 65535};
        for (const auto& [n, body] : rev.objects) {
            if (rev.inObjectStream.count(n))
                continue;
            const int gen = rev.generations.count(n) ? rev.generations.at(n) : 0;
            entries[n] = {1, pdf.size(), gen};
            pdf += QByteArray::number(n) + " " + QByteArray::number(gen) + " obj\n" + body + "\nendobj\n";
        }
        std::map<int, std::vector<int>> streams;
        for (const auto& [n, holder] : rev.inObjectStream)
            streams[holder].push_back(n);
        for (const auto& [holder, numbers] : streams) {
            QByteArray head, body;
            for (size_t k = 0; k < numbers.size(); ++k) {
                head += QByteArray::number(numbers[k]) + " " + QByteArray::number(body.size()) + " ";
                body += rev.objects.at(numbers[k]) + "\n";
                entries[numbers[k]] = {2, holder, int(k)};
            }
            entries[holder] = {1, pdf.size(), 0};
            pdf += QByteArray::number(holder) + " 0 obj\n" +
                   PdfStream(head + body, " /Type /ObjStm /N " + QByteArray::number(int(numbers.size())) +
                                              " /First " + QByteArray::number(head.size())) +
                   "\nendobj\n";
        }
        for (const auto& [n, gen] : rev.freed)
            entries[n] = {0, 0, gen};

        // A first field of no width makes every entry one in the file: free entries can't be listed.
        if (rev.xrefStream && rev.widths[0] == 0)
            for (auto it = entries.begin(); it != entries.end();)
                it = it->second.type == 1 ? std::next(it) : entries.erase(it);
        int highest = entries.empty() ? 0 : entries.rbegin()->first;
        const long long at = pdf.size();
        if (!rev.xrefStream) {
            size = std::max<long long>(size, highest + 1);
            std::vector<int> numbers;
            for (const auto& e : entries)
                numbers.push_back(e.first);
            pdf += "xref\n";
            for (auto [first, count] : runs(numbers)) {
                pdf += QByteArray::number(first) + " " + QByteArray::number(count) + "\n";
                for (int n = first; n < first + count; ++n) {
                    const Entry& e = entries[n];
                    pdf += QByteArray::number(e.type == 1 ? e.second : 0).rightJustified(10, '0') + " " +
                           QByteArray::number(e.third).rightJustified(5, '0') + (e.type == 1 ? " n \n" : " f \n");
                }
            }
            pdf += "trailer\n<< /Size " + QByteArray::number(rev.size >= 0 ? rev.size : size);
            if (previous >= 0)
                pdf += " /Prev " + QByteArray::number(previous);
            pdf += " " + rev.trailer + " >>\n";
        } else {
            // After every number any revision so far uses.
            const int self = rev.xrefStreamNumber ? rev.xrefStreamNumber : int(std::max<long long>(highest + 1, size));
            entries[self] = {1, at, 0};
            highest = std::max(highest, self);
            size = std::max<long long>(size, highest + 1);
            const long long declared = rev.size >= 0 ? rev.size : size;
            std::vector<int> numbers;
            if (rev.writeIndex) {
                for (const auto& e : entries)
                    numbers.push_back(e.first);
            } else {
                for (int n = 0; n < declared; ++n) {
                    if (!entries.count(n))
                        entries[n] = {0, 0, 0};
                    numbers.push_back(n);
                }
            }
            QByteArray rows, index;
            for (auto [first, count] : runs(numbers)) {
                index += QByteArray::number(first) + " " + QByteArray::number(count) + " ";
                for (int n = first; n < first + count; ++n) {
                    const Entry& e = entries[n];
                    rows += field(e.type, rev.widths[0]) + field(e.second, rev.widths[1]) +
                            field(e.third, rev.widths[2]);
                }
            }
            QByteArray dict = " /Type /XRef /Size " + QByteArray::number(declared) + " /W [" +
                              QByteArray::number(rev.widths[0]) + " " + QByteArray::number(rev.widths[1]) + " " +
                              QByteArray::number(rev.widths[2]) + "]";
            if (rev.writeIndex)
                dict += " /Index [" + index.trimmed() + "]";
            if (previous >= 0)
                dict += " /Prev " + QByteArray::number(previous);
            dict += " " + rev.trailer;
            pdf += QByteArray::number(self) + " 0 obj\n" + PdfStream(rows, dict) + "\nendobj\n";
        }
        pdf += "startxref\n" + QByteArray::number(at) + "\n%%EOF\n";
        previous = at;
    }
    return pdf;
}

QByteArray ClassicFile(const QList<QByteArray>& objects, const QByteArray& keys) {
    QByteArray pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    QList<qsizetype> offsets;
    for (int k = 0; k < objects.size(); ++k) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(k + 1) + " 0 obj\n" + objects.at(k) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        pdf += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " " + keys + " >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}
