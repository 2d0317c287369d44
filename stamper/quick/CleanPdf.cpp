#include "CleanPdf.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

namespace {

// Nothing a page or its resources need nests deeper; a file that does is read by qpdf.
constexpr int kMaxDepth = 64;
// One above the highest object number readers take: a file that uses higher ones is rewritten.
constexpr long long kMaxObjects = kMaxObjectNumber + 1;
// Cross-reference and object stream data, inflated whole.
constexpr size_t kMaxSectionBytes = 256u << 20;
constexpr int kMaxSections = 4096;

[[noreturn]] void notClean(const std::string& why) {
    throw NotClean(why);
}

bool isWhite(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c) {
    switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/': case '%':
        return true;
    default:
        return false;
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

class Parser {
public:
    Parser(std::string_view text, size_t at)
        : s_(text)
        , at_(at) {}

    size_t at() const { return at_; }
    void moveTo(size_t at) { at_ = at; }
    bool atEnd() const { return at_ >= s_.size(); }

    void skipSpace() {
        while (at_ < s_.size()) {
            if (isWhite(s_[at_])) {
                ++at_;
            } else if (s_[at_] == '%') {
                while (at_ < s_.size() && s_[at_] != '\n' && s_[at_] != '\r')
                    ++at_;
            } else {
                break;
            }
        }
    }

    // The keyword at the current place, ending where a token ends; consumed when it matches.
    bool keyword(std::string_view word) {
        skipSpace();
        if (s_.substr(at_, word.size()) != word)
            return false;
        const size_t end = at_ + word.size();
        if (end < s_.size() && !isWhite(s_[end]) && !isDelimiter(s_[end]))
            return false;
        at_ = end;
        return true;
    }

    long long unsignedInteger() {
        skipSpace();
        long long v = 0;
        size_t digits = 0;
        while (at_ < s_.size() && isDigit(s_[at_])) {
            if (++digits > 15)
                notClean("a number too long");
            v = v * 10 + (s_[at_++] - '0');
        }
        if (digits == 0)
            notClean("a number expected");
        return v;
    }

    PdfValue value(int depth = 0) {
        if (depth > kMaxDepth)
            notClean("objects nested too deeply");
        skipSpace();
        if (atEnd())
            notClean("an object cut short");
        const size_t start = at_;
        PdfValue v;
        const char c = s_[at_];
        if (c == '/') {
            ++at_;
            while (at_ < s_.size() && !isWhite(s_[at_]) && !isDelimiter(s_[at_]))
                ++at_;
            v.kind = PdfValue::Kind::Name;
        } else if (c == '(') {
            literalString();
            v.kind = PdfValue::Kind::String;
        } else if (c == '<' && at_ + 1 < s_.size() && s_[at_ + 1] == '<') {
            at_ += 2;
            dictionary(v, depth);
        } else if (c == '<') {
            ++at_;
            while (at_ < s_.size() && s_[at_] != '>') {
                const char h = s_[at_++];
                if (!isWhite(h) && !std::isxdigit(static_cast<unsigned char>(h)))
                    notClean("a broken hexadecimal string");
            }
            if (atEnd())
                notClean("a hexadecimal string cut short");
            ++at_;
            v.kind = PdfValue::Kind::String;
        } else if (c == '[') {
            ++at_;
            v.kind = PdfValue::Kind::Array;
            for (;;) {
                skipSpace();
                if (atEnd())
                    notClean("an array cut short");
                if (s_[at_] == ']') {
                    ++at_;
                    break;
                }
                v.items.push_back(value(depth + 1));
            }
        } else if (isDigit(c) || c == '+' || c == '-' || c == '.') {
            number(v);
        } else if (keyword("true") || keyword("false")) {
            v.kind = PdfValue::Kind::Bool;
        } else if (keyword("null")) {
            v.kind = PdfValue::Kind::Null;
        } else {
            notClean("an unexpected token");
        }
        v.text = s_.substr(start, at_ - start);
        return v;
    }

private:
    void literalString() {
        int depth = 0;
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '\\')
                ++at_;
            else if (c == '(')
                ++depth;
            else if (c == ')' && --depth == 0)
                return;
        }
        notClean("a string cut short");
    }

    void dictionary(PdfValue& v, int depth) {
        v.kind = PdfValue::Kind::Dictionary;
        for (;;) {
            skipSpace();
            if (at_ + 1 < s_.size() && s_[at_] == '>' && s_[at_ + 1] == '>') {
                at_ += 2;
                return;
            }
            PdfValue key = value(depth + 1);
            // Keys are compared as written: an escaped or repeated key is for qpdf to sort out.
            if (!key.is(PdfValue::Kind::Name) || key.text.find('#') != std::string_view::npos)
                notClean("a dictionary key that is not a plain name");
            for (size_t k = 0; k < v.items.size(); k += 2)
                if (v.items[k].text == key.text)
                    notClean("a key given twice");
            PdfValue item = value(depth + 1);
            v.items.push_back(std::move(key));
            v.items.push_back(std::move(item));
        }
    }

    void number(PdfValue& v) {
        const size_t start = at_;
        if (s_[at_] == '+' || s_[at_] == '-')
            ++at_;
        size_t digits = 0, dots = 0;
        while (at_ < s_.size() && (isDigit(s_[at_]) || s_[at_] == '.')) {
            (s_[at_] == '.' ? dots : digits) += 1;
            ++at_;
        }
        if (digits == 0 || dots > 1 || (at_ < s_.size() && !isWhite(s_[at_]) && !isDelimiter(s_[at_])))
            notClean("a broken number");
        if (dots == 1 || digits > 18) {
            v.kind = PdfValue::Kind::Real;
            return;
        }
        v.kind = PdfValue::Kind::Integer;
        std::from_chars(s_.data() + start + (s_[start] == '+'), s_.data() + at_, v.integer);
        if (s_[start] == '+' || s_[start] == '-')
            return;
        // "n g R": a reference.
        const size_t after = at_;
        skipSpace();
        const size_t genStart = at_;
        while (at_ < s_.size() && isDigit(s_[at_]))
            ++at_;
        if (at_ > genStart && at_ - genStart <= 5) {
            const size_t genEnd = at_;
            if (keyword("R")) {
                v.kind = PdfValue::Kind::Reference;
                std::from_chars(s_.data() + genStart, s_.data() + genEnd, v.generation);
                highestReference = std::max(highestReference, v.integer);
                return;
            }
        }
        at_ = after;
    }

public:
    long long highestReference = 0; // among the references parsed

private:
    std::string_view s_;
    size_t at_;
};

// Undoes the PNG predictors of a cross-reference stream's rows, one byte per sample.
std::string unpredict(const std::string& data, size_t columns) {
    const size_t row = columns + 1;
    if (columns == 0 || data.size() % row != 0)
        notClean("cross-reference stream rows of the wrong length");
    std::string out;
    out.reserve(data.size() / row * columns);
    std::string previous(columns, '\0');
    for (size_t at = 0; at < data.size(); at += row) {
        const unsigned char filter = static_cast<unsigned char>(data[at]);
        std::string current = data.substr(at + 1, columns);
        for (size_t k = 0; k < columns; ++k) {
            const unsigned a = k > 0 ? static_cast<unsigned char>(current[k - 1]) : 0;
            const unsigned b = static_cast<unsigned char>(previous[k]);
            const unsigned c = k > 0 ? static_cast<unsigned char>(previous[k - 1]) : 0;
            unsigned add = 0;
            switch (filter) {
            case 0: add = 0; break;
            case 1: add = a; break;
            case 2: add = b; break;
            case 3: add = (a + b) / 2; break;
            case 4: {
                const int p = int(a) + int(b) - int(c);
                const int pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
                add = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                break;
            }
            default:
                notClean("an unknown row predictor");
            }
            current[k] = char((static_cast<unsigned char>(current[k]) + add) & 0xff);
        }
        out += current;
        previous = std::move(current);
    }
    return out;
}

long long integerOf(const PdfValue* v, const char* what) {
    if (!v || !v->is(PdfValue::Kind::Integer) || v->integer < 0)
        notClean(std::string("no usable ") + what);
    return v->integer;
}

} // namespace

double PdfValue::number() const {
    if (kind == Kind::Integer)
        return double(integer);
    const char* from = text.data() + (text.substr(0, 1) == "+");
    double value = 0;
    std::from_chars(from, text.data() + text.size(), value);
    return value;
}

const PdfValue* PdfValue::find(std::string_view key) const {
    if (kind != Kind::Dictionary)
        return nullptr;
    for (size_t k = 0; k + 1 < items.size(); k += 2)
        if (items[k].text == key)
            return &items[k + 1];
    return nullptr;
}

bool IsFlate(const PdfValue& dict) {
    const PdfValue* filter = dict.find("/Filter");
    if (!filter || filter->is(PdfValue::Kind::Null))
        return false;
    if (filter->is(PdfValue::Kind::Array) && filter->items.size() == 1)
        filter = &filter->items[0];
    if (!filter->isName("/FlateDecode"))
        notClean("a stream filter other than Flate");
    return true;
}

std::string InflateWhole(std::string_view deflated, size_t limit) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        notClean("zlib cannot start");
    std::string out(std::min<size_t>(std::max<size_t>(deflated.size() * 4, 4096), limit), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    z.avail_in = uInt(deflated.size());
    int rc = Z_OK;
    size_t used = 0;
    while (rc == Z_OK) {
        if (used == out.size()) {
            if (out.size() >= limit)
                break;
            out.resize(std::min(out.size() * 2, limit));
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        z.avail_out = uInt(out.size() - used);
        rc = inflate(&z, Z_NO_FLUSH);
        used = out.size() - z.avail_out;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        notClean("compressed data that does not inflate cleanly");
    out.resize(used);
    return out;
}

struct CleanPdf::ObjectStream {
    std::string data;
    std::vector<std::pair<long long, size_t>> objects; // number, offset in data
};

CleanPdf::CleanPdf(std::string_view bytes)
    : bytes_(bytes) {
    last_ = FindLastSection((long long)bytes.size(), [&](long long offset, size_t length) {
        if (offset < 0 || size_t(offset) >= bytes.size())
            return std::string();
        return std::string(bytes.substr(size_t(offset), length));
    });
    if (!last_.unsupported.empty())
        notClean(last_.unsupported);
    readSections(last_.offset);
    objects_.resize(entries_.size());
}

CleanPdf::~CleanPdf() = default;

void CleanPdf::readSections(long long offset) {
    std::vector<long long> seen;
    for (int k = 0; offset >= 0; ++k) {
        if (k == kMaxSections || std::find(seen.begin(), seen.end(), offset) != seen.end())
            notClean("cross-reference sections that loop");
        seen.push_back(offset);
        if (size_t(offset) >= bytes_.size())
            notClean("a cross-reference section beyond the end");
        PdfValue trailer;
        // Exactly where the offset points: qpdf reads past white space before a section or an object,
        // but only as a repair.
        const long long previous =
            bytes_.substr(size_t(offset), 4) == "xref" ? readTable(offset, trailer) : readXrefStream(offset, trailer);
        // The newest trailer's /Encrypt is looked at once its objects can be read (encrypted());
        // an older one's is for qpdf to weigh.
        if (k > 0 && trailer.find("/Encrypt"))
            notClean("encrypted");
        if (trailer.find("/XRefStm"))
            notClean("a hybrid file");
        // poppler refuses a cross-reference stream whose /Size is beyond the object numbers readers
        // take (and MuPDF repairs such a table): a rewrite gives the copy a /Size they read.
        if (const PdfValue* size = trailer.find("/Size"); size && size->is(PdfValue::Kind::Integer) &&
                                                          size->integer > kMaxObjectNumber + 1)
            notClean("a /Size beyond the object numbers readers take");
        if (k == 0)
            trailer_ = std::move(trailer);
        offset = previous;
    }
    const PdfValue* size = trailer_.find("/Size");
    if (integerOf(size, "/Size") <= highest_)
        notClean("objects beyond the trailer's /Size");
}

void CleanPdf::define(long long number, Entry e) {
    if (number <= 0)
        return; // object 0 heads the free list
    if (number >= kMaxObjects)
        notClean("an object number too high");
    if (size_t(number) >= entries_.size())
        entries_.resize(size_t(number) + 1);
    highest_ = std::max(highest_, int(number));
    // The newest section is read first and wins.
    if (entries_[size_t(number)].type == Entry::Type::Unknown)
        entries_[size_t(number)] = e;
}

long long CleanPdf::readTable(long long offset, PdfValue& trailer) {
    Parser p(bytes_, size_t(offset));
    p.keyword("xref");
    for (;;) {
        if (p.keyword("trailer"))
            break;
        const long long first = p.unsignedInteger(), count = p.unsignedInteger();
        if (first + count > kMaxObjects)
            notClean("a cross-reference table too long");
        p.skipSpace();
        size_t at = p.at();
        if (at + size_t(count) * 20 > bytes_.size())
            notClean("a cross-reference table cut short");
        for (long long k = 0; k < count; ++k, at += 20) {
            const char* e = bytes_.data() + at;
            for (int d = 0; d < 10; ++d)
                if (!isDigit(e[d]) || (d < 5 && !isDigit(e[11 + d])))
                    notClean("a broken cross-reference entry");
            if (e[10] != ' ' || e[16] != ' ' || (e[17] != 'n' && e[17] != 'f') || !isWhite(e[18]) || !isWhite(e[19]))
                notClean("a broken cross-reference entry");
            Entry entry;
            if (e[17] == 'f') {
                entry.type = Entry::Type::Free;
            } else {
                entry.type = Entry::Type::InFile;
                std::from_chars(e, e + 10, entry.where);
                std::from_chars(e + 11, e + 16, entry.generation);
            }
            define(first + k, entry);
        }
        p.moveTo(at);
    }
    trailer = p.value();
    if (!trailer.is(PdfValue::Kind::Dictionary))
        notClean("a trailer that is no dictionary");
    highestReference_ = std::max(highestReference_, p.highestReference);
    const PdfValue* previous = trailer.find("/Prev");
    return previous ? integerOf(previous, "/Prev") : -1;
}

long long CleanPdf::readXrefStream(long long offset, PdfValue& trailer) {
    Parser p(bytes_, size_t(offset));
    if (!isDigit(bytes_[size_t(offset)]))
        notClean("white space where a cross-reference stream should start");
    p.unsignedInteger();
    p.unsignedInteger();
    if (!p.keyword("obj"))
        notClean("a cross-reference stream without its object header");
    trailer = p.value();
    highestReference_ = std::max(highestReference_, p.highestReference);
    if (const PdfValue* type = trailer.find("/Type"); !type || !type->isName("/XRef"))
        notClean("no cross-reference stream where startxref points");
    const long long length = integerOf(trailer.find("/Length"), "cross-reference stream /Length");
    if (!p.keyword("stream"))
        notClean("a cross-reference stream without data");
    size_t at = p.at();
    if (at < bytes_.size() && bytes_[at] == '\r')
        ++at;
    if (at >= bytes_.size() || bytes_[at] != '\n' || at + 1 + size_t(length) > bytes_.size())
        notClean("a cross-reference stream cut short");
    std::string_view raw = bytes_.substr(at + 1, size_t(length));
    p.moveTo(at + 1 + size_t(length));
    if (!p.keyword("endstream"))
        notClean("a cross-reference stream whose /Length is off");
    std::string data = IsFlate(trailer) ? InflateWhole(raw, kMaxSectionBytes) : std::string(raw);

    const PdfValue* w = trailer.find("/W");
    if (!w || !w->is(PdfValue::Kind::Array) || w->items.size() != 3)
        notClean("a cross-reference stream without /W");
    int widths[3];
    size_t rowLength = 0;
    for (int k = 0; k < 3; ++k) {
        widths[k] = int(integerOf(&w->items[size_t(k)], "/W entry"));
        if (widths[k] > 8)
            notClean("a /W entry too wide");
        rowLength += size_t(widths[k]);
    }
    if (const PdfValue* parms = trailer.find("/DecodeParms"); parms && !parms->is(PdfValue::Kind::Null)) {
        const PdfValue* predictor = parms->find("/Predictor");
        const long long kind = predictor ? integerOf(predictor, "/Predictor") : 1;
        const PdfValue* columns = parms->find("/Columns");
        const PdfValue* colors = parms->find("/Colors");
        const PdfValue* bits = parms->find("/BitsPerComponent");
        if (!parms->is(PdfValue::Kind::Dictionary) || (kind != 1 && kind < 10) || kind > 15 ||
            (colors && integerOf(colors, "/Colors") != 1) || (bits && integerOf(bits, "/BitsPerComponent") != 8))
            notClean("cross-reference stream parameters this reader does not decode");
        if (kind >= 10)
            data = unpredict(data, columns ? size_t(integerOf(columns, "/Columns")) : 1);
    }
    if (rowLength == 0)
        notClean("cross-reference rows of no length");

    std::vector<std::pair<long long, long long>> index;
    if (const PdfValue* ix = trailer.find("/Index")) {
        if (!ix->is(PdfValue::Kind::Array) || ix->items.size() % 2 != 0)
            notClean("a broken /Index");
        for (size_t k = 0; k < ix->items.size(); k += 2)
            index.emplace_back(integerOf(&ix->items[k], "/Index"), integerOf(&ix->items[k + 1], "/Index"));
    } else {
        index.emplace_back(0, integerOf(trailer.find("/Size"), "/Size"));
    }
    size_t row = 0;
    for (auto [first, count] : index) {
        if (first + count > kMaxObjects || (row + size_t(count)) * rowLength > data.size())
            notClean("a cross-reference stream shorter than its /Index");
        for (long long k = 0; k < count; ++k, ++row) {
            const unsigned char* r = reinterpret_cast<const unsigned char*>(data.data()) + row * rowLength;
            unsigned long long field[3] = {1, 0, 0};
            for (int f = 0, at = 0; f < 3; at += widths[f], ++f) {
                if (widths[f] == 0)
                    continue;
                field[f] = 0;
                for (int b = 0; b < widths[f]; ++b)
                    field[f] = field[f] << 8 | r[at + b];
            }
            Entry entry;
            switch (field[0]) {
            case 0:
                entry.type = Entry::Type::Free;
                break;
            case 1:
                entry.type = Entry::Type::InFile;
                entry.where = (long long)field[1];
                entry.generation = int(field[2] & 0xffff);
                break;
            case 2:
                entry.type = Entry::Type::Compressed;
                entry.where = (long long)field[1];
                entry.index = int(field[2] & 0x7fffffff);
                break;
            default:
                notClean("an unknown cross-reference entry type");
            }
            define(first + k, entry);
        }
    }
    if (row * rowLength != data.size())
        notClean("a cross-reference stream longer than its /Index");
    const PdfValue* previous = trailer.find("/Prev");
    return previous ? integerOf(previous, "/Prev") : -1;
}

const PdfObject& CleanPdf::object(int number, int generation) {
    if (number > 0 && size_t(number) < objects_.size() && objects_[size_t(number)]) {
        if (objects_[size_t(number)]->generation != generation)
            notClean("a reference of the wrong generation");
        return *objects_[size_t(number)];
    }
    return keep(read(number, generation));
}

std::unique_ptr<PdfObject> CleanPdf::read(int number, int generation) {
    if (number <= 0 || size_t(number) >= entries_.size())
        notClean("a reference to a missing object");
    Entry& e = entries_[size_t(number)];
    const Entry found = e;
    if (found.type == Entry::Type::InFile && found.generation == generation) {
        // Marked as missing while it is read: an object whose /Length is itself can't loop.
        e.type = Entry::Type::Unknown;
        std::unique_ptr<PdfObject> object = readInFile(number, found);
        e = found;
        return object;
    }
    if (found.type == Entry::Type::Compressed && generation == 0) {
        e.type = Entry::Type::Unknown;
        std::unique_ptr<PdfObject> object = readCompressed(number, found);
        e = found;
        return object;
    }
    notClean("a reference to a missing object");
}

const PdfObject& CleanPdf::keep(std::unique_ptr<PdfObject> object) {
    const size_t number = size_t(object->number);
    if (!objects_[number])
        objects_[number] = std::move(object);
    return *objects_[number];
}

std::unique_ptr<PdfObject> CleanPdf::readInFile(int number, const Entry& e) {
    if (e.where < 0 || size_t(e.where) >= bytes_.size())
        notClean("an object beyond the end");
    Parser p(bytes_, size_t(e.where));
    if (!isDigit(bytes_[size_t(e.where)]) || p.unsignedInteger() != number || p.unsignedInteger() != e.generation || !p.keyword("obj"))
        notClean("object " + std::to_string(number) + " is not where its entry says");
    auto object = std::make_unique<PdfObject>();
    object->number = number;
    object->generation = e.generation;
    object->value = p.value();
    if (p.keyword("stream")) {
        if (!object->value.is(PdfValue::Kind::Dictionary))
            notClean("stream data without a dictionary");
        size_t at = p.at();
        if (at < bytes_.size() && bytes_[at] == '\r')
            ++at;
        if (at >= bytes_.size() || bytes_[at] != '\n')
            notClean("a stream keyword without its end of line");
        ++at;
        const PdfValue* lengthValue = object->value.find("/Length");
        if (!lengthValue)
            notClean("a stream without /Length");
        const long long length = integerOf(&resolve(*lengthValue), "stream /Length");
        if (at + size_t(length) > bytes_.size())
            notClean("stream data beyond the end");
        object->isStream = true;
        object->data = bytes_.substr(at, size_t(length));
        p.moveTo(at + size_t(length));
        if (!p.keyword("endstream"))
            notClean("a stream whose /Length is off");
    }
    if (!p.keyword("endobj"))
        notClean("an object without endobj");
    highestReference_ = std::max(highestReference_, p.highestReference);
    return object;
}

CleanPdf::ObjectStream& CleanPdf::objectStream(int number) {
    if (size_t(number) >= streams_.size())
        streams_.resize(entries_.size());
    if (number <= 0 || size_t(number) >= streams_.size())
        notClean("a missing object stream");
    if (streams_[size_t(number)])
        return *streams_[size_t(number)];
    const PdfObject& holder = object(number, 0);
    const PdfValue& dict = holder.value;
    const PdfValue* type = dict.find("/Type");
    if (!holder.isStream || !type || !type->isName("/ObjStm") || dict.find("/DecodeParms") || dict.find("/Extends"))
        notClean("an object stream this reader does not read");
    auto os = std::make_unique<ObjectStream>();
    os->data = IsFlate(dict) ? InflateWhole(holder.data, kMaxSectionBytes) : std::string(holder.data);
    const long long count = integerOf(dict.find("/N"), "/N"), first = integerOf(dict.find("/First"), "/First");
    if (size_t(first) > os->data.size() || count > kMaxObjects)
        notClean("a broken object stream");
    Parser p(std::string_view(os->data).substr(0, size_t(first)), 0);
    for (long long k = 0; k < count; ++k) {
        const long long n = p.unsignedInteger(), offset = p.unsignedInteger();
        if (size_t(first + offset) >= os->data.size())
            notClean("a broken object stream");
        os->objects.emplace_back(n, size_t(first + offset));
    }
    streams_[size_t(number)] = std::move(os);
    return *streams_[size_t(number)];
}

std::unique_ptr<PdfObject> CleanPdf::readCompressed(int number, const Entry& e) {
    if (e.where <= 0 || e.where >= (long long)entries_.size() ||
        entries_[size_t(e.where)].type != Entry::Type::InFile)
        notClean("a missing object stream");
    ObjectStream& os = objectStream(int(e.where));
    if (size_t(e.index) >= os.objects.size() || os.objects[size_t(e.index)].first != number)
        notClean("object " + std::to_string(number) + " is not where its entry says");
    Parser p(os.data, os.objects[size_t(e.index)].second);
    auto object = std::make_unique<PdfObject>();
    object->number = number;
    object->value = p.value();
    if (p.keyword("stream"))
        notClean("a stream inside an object stream");
    highestReference_ = std::max(highestReference_, p.highestReference);
    return object;
}

const PdfValue& CleanPdf::resolve(const PdfValue& v) {
    if (!v.is(PdfValue::Kind::Reference))
        return v;
    const PdfObject& target = object(int(v.integer), v.generation);
    if (target.isStream)
        notClean("a stream where a plain object belongs");
    if (target.value.is(PdfValue::Kind::Reference))
        notClean("a reference to a reference");
    return target.value;
}

bool CleanPdf::defines(int number, int generation) const {
    if (number <= 0 || size_t(number) >= entries_.size())
        return false;
    const Entry& e = entries_[size_t(number)];
    return (e.type == Entry::Type::InFile && e.generation == generation) ||
           (e.type == Entry::Type::Compressed && generation == 0) ||
           (size_t(number) < objects_.size() && objects_[size_t(number)] &&
            objects_[size_t(number)]->generation == generation);
}

const PdfValue* CleanPdf::lookup(const PdfValue* v, bool streamDictionary) {
    if (!v || v->is(PdfValue::Kind::Null))
        return nullptr;
    if (!v->is(PdfValue::Kind::Reference))
        return v;
    if (!defines(int(v->integer), v->generation))
        return nullptr;
    const PdfObject& target = object(int(v->integer), v->generation);
    if (target.isStream && !streamDictionary)
        notClean("a stream where a plain object belongs");
    if (target.value.is(PdfValue::Kind::Reference))
        notClean("a reference to a reference");
    return target.value.is(PdfValue::Kind::Null) ? nullptr : &target.value;
}

namespace {

// The highest "n g R" in `text` (n up to kMaxObjectNumber, g up to 65535), 0 when there is none.
long long highestReferenceIn(std::string_view text) {
    long long highest = 0;
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* r = begin; (r = static_cast<const char*>(std::memchr(r, 'R', size_t(end - r)))); ++r) {
        if (r + 1 < end && !isWhite(r[1]) && !isDelimiter(r[1]))
            continue;
        // Backwards: white space, the generation, white space, the number.
        const char* p = r;
        auto white = [&] {
            const char* start = p;
            while (p > begin && isWhite(p[-1]))
                --p;
            return p < start;
        };
        auto digits = [&](int most) {
            const char* start = p;
            while (p > begin && isDigit(p[-1]) && start - p < most)
                --p;
            return p < start && (p == begin || !isDigit(p[-1]));
        };
        if (!white() || !digits(5))
            continue;
        const char* generation = p;
        if (!white() || !digits(7))
            continue;
        if (p > begin && !isWhite(p[-1]) && !isDelimiter(p[-1]))
            continue; // part of a longer token (a name, a real)
        long long number = 0;
        std::from_chars(p, generation, number);
        if (number <= kMaxObjectNumber)
            highest = std::max(highest, number);
    }
    return highest;
}

} // namespace

long long CleanPdf::highestReferenceAnywhere() {
    long long highest = highestReferenceIn(bytes_);
    std::vector<bool> scanned(entries_.size(), false);
    for (const Entry& e : entries_)
        if (e.type == Entry::Type::Compressed && e.where > 0 && size_t(e.where) < entries_.size() &&
            !scanned[size_t(e.where)]) {
            scanned[size_t(e.where)] = true;
            highest = std::max(highest, highestReferenceIn(objectStream(int(e.where)).data));
        }
    return std::max(highest, std::min<long long>(highestReference_, kMaxObjectNumber));
}

bool CleanPdf::encrypted() {
    // Viewers take an /Encrypt that is no dictionary (nor a reference to one) for no encryption.
    const PdfValue* encrypt = trailer_.find("/Encrypt");
    if (!encrypt || encrypt->is(PdfValue::Kind::Null))
        return false;
    if (encrypt->is(PdfValue::Kind::Reference) && defines(int(encrypt->integer), encrypt->generation)) {
        const PdfObject& target = object(int(encrypt->integer), encrypt->generation);
        return target.isStream || target.value.is(PdfValue::Kind::Dictionary) ||
               target.value.is(PdfValue::Kind::Reference);
    }
    return encrypt->is(PdfValue::Kind::Dictionary);
}
