#include "ContentGenerator.h"

#include "PdfWriter.h"

#include <QList>

#include <algorithm>
#include <random>

namespace {

// Object numbers of the base file.
enum : int {
    kCatalog = 1,
    kPages = 2,
    kPage1 = 3,
    kContent1 = 5,
    kResources = 6,
    kFont = 8,
    kGState = 9,
    kImage = 10,
    kForm = 11,
    kLayerOn = 12,
    kLayerOff = 13,
    kOcmd = 14,
    kShading = 15,
    kAnnot = 16,
    kAnnotAp = 17,
    kMidNode = 18,
    kNull = 19,
    kMoreContent = 20, // 20, 21: page 1's further content streams
    kOtherPages = 30,  // pages 2 and up: 30 + 2k the page, 31 + 2k its content
};

class Rng {
public:
    explicit Rng(uint64_t seed)
        : engine_(seed) {}
    int below(int n) { return n <= 1 ? 0 : int(engine_() % uint64_t(n)); }
    bool chance(double p) { return double(engine_() >> 11) * 0x1.0p-53 < p; }
    double real(double lo, double hi) { return lo + (hi - lo) * double(engine_() >> 11) * 0x1.0p-53; }
    template <class T> const T& pick(const QList<T>& list) { return list[below(int(list.size()))]; }
    QByteArray pickText(std::initializer_list<const char*> list) {
        return QByteArray(*(list.begin() + below(int(list.size()))));
    }

private:
    std::mt19937_64 engine_;
};

QByteArray Num(double v, int decimals = 2) {
    QByteArray s = QByteArray::number(v, 'f', decimals);
    if (s.contains('.')) {
        while (s.endsWith('0'))
            s.chop(1);
        if (s.endsWith('.'))
            s.chop(1);
    }
    return s == "-0" ? "0" : s;
}

// Content generation: statements in the grammar, each a list of pieces, with faults mixed in.
class ContentWriter {
public:
    ContentWriter(Rng& rng, double faultRate)
        : r_(rng)
        , faults_(faultRate) {}

    QList<ContentPiece> write() {
        const int statements = 2 + r_.below(10);
        for (int k = 0; k < statements; ++k)
            statement(0, false);
        // Content that ends on a token two readers split differently, or without its last EOL.
        if (r_.chance(faults_ * 0.5))
            tail();
        // Something drawn last shows whether a viewer read to the end.
        if (r_.chance(0.5))
            add("draw last", sep() + "0 0.6 0 rg 230 230 30 30 re f");
        return pieces_;
    }

private:
    Rng& r_;
    double faults_;
    QList<ContentPiece> pieces_;

    QByteArray sep() {
        static const QList<QByteArray> seps = {" ", "\n", "\n", "\r\n", "\t", "\r", "  \n"};
        return r_.pick(seps);
    }
    void add(const QByteArray& tag, const QByteArray& text) { pieces_.append({tag, text, 0}); }

    QByteArray x() { return Num(r_.real(40, 260), r_.below(3)); }
    QByteArray colour() { return Num(r_.real(0.3, 1), 2); }
    QByteArray small() { return Num(r_.real(0, 3), 1); }

    QByteArray textString() {
        static const QList<QByteArray> strings = {
            "(Text)",
            "(a\\)b)",
            "(nested (paren) ok)",
            "(back\\\\slash)",
            "(tab\\tnl\\n\\101)",
            "<54657874>",
            "<546>",
            "<>",
            "()",
            "(% not a comment)",
            "(endstream)",
            "(>> ] } EI Q)",
            "(\\\nline)",
            "<54 65 78 74>",
        };
        return r_.pick(strings);
    }

    // The operands an operator takes, well chosen for a page 300 points square.
    QList<QByteArray> operands(const QByteArray& op) {
        if (op == "w" || op == "M")
            return {small()};
        if (op == "J" || op == "j" || op == "Tr")
            return {QByteArray::number(r_.below(3))};
        if (op == "d")
            return {r_.pickText({"[3]", "[]", "[2 1]", "[4 2 1]"}), QByteArray::number(r_.below(3))};
        if (op == "ri")
            return {r_.pickText({"/Perceptual", "/RelativeColorimetric", "/Saturation"})};
        if (op == "i")
            return {QByteArray::number(r_.below(50))};
        if (op == "gs")
            return {"/GS1"};
        if (op == "cm") {
            if (r_.chance(0.5))
                return {"1", "0", "0", "1", Num(r_.real(-10, 10), 1), Num(r_.real(-10, 10), 1)};
            const QByteArray s = Num(r_.real(0.8, 1.1), 2);
            return {s, "0", "0", s, "0", "0"};
        }
        if (op == "m" || op == "l" || op == "Td" || op == "TD" || op == "d0")
            return {x(), x()};
        if (op == "c" || op == "d1")
            return {x(), x(), x(), x(), x(), x()};
        if (op == "v" || op == "y")
            return {x(), x(), x(), x()};
        if (op == "re")
            return {x(), x(), Num(r_.real(5, 40), 1), Num(r_.real(5, 40), 1)};
        if (op == "Tc" || op == "Tw" || op == "Ts")
            return {small()};
        if (op == "Tz")
            return {QByteArray::number(50 + r_.below(100))};
        if (op == "TL")
            return {QByteArray::number(10 + r_.below(10))};
        if (op == "Tf")
            return {"/F1", QByteArray::number(8 + r_.below(20))};
        if (op == "Tm")
            return {"1", "0", "0", "1", x(), x()};
        if (op == "Tj" || op == "'")
            return {textString()};
        if (op == "\"")
            return {small(), small(), textString()};
        if (op == "TJ")
            return {"[" + textString() + " " + QByteArray::number(r_.below(400) - 200) + " " + textString() +
                    "]"};
        if (op == "CS" || op == "cs")
            return {r_.pickText({"/DeviceRGB", "/DeviceGray", "/DeviceCMYK", "/CS1"})};
        if (op == "SC" || op == "sc" || op == "SCN" || op == "scn" || op == "RG" || op == "rg")
            return {colour(), colour(), colour()};
        if (op == "G" || op == "g")
            return {colour()};
        if (op == "K" || op == "k")
            return {"0", Num(r_.real(0, 0.5)), Num(r_.real(0, 0.5)), "0"};
        if (op == "sh")
            return {"/Sh1"};
        if (op == "Do")
            return {r_.pickText({"/Im1", "/Fm1"})};
        if (op == "MP" || op == "BMC")
            return {r_.pickText({"/Tag", "/Artifact", "/Span"})};
        if (op == "DP" || op == "BDC")
            return {r_.pickText({"/Tag", "/Span", "/OC"}),
                    r_.pickText({"/L1", "<< /MCID 0 >>", "<< /A 1 >>"})};
        return {};
    }

    // An operator with its operands, sometimes given too few, too many or the wrong kind.
    void op(const QByteArray& name, const QByteArray& only = {}) {
        QList<QByteArray> args = only.isEmpty() ? operands(name) : QList<QByteArray>{only};
        QByteArray tag = name;
        if (r_.chance(faults_)) {
            switch (r_.below(7)) {
            case 0:
                if (!args.isEmpty()) {
                    args.removeLast();
                    tag += ": one operand short";
                }
                break;
            case 1:
                args.clear();
                tag += ": no operands";
                break;
            case 2:
                args.append(r_.pickText({"1", "/X", "(s)"}));
                tag += ": one operand too many";
                break;
            case 3:
                if (!args.isEmpty()) {
                    QByteArray& a = args[r_.below(int(args.size()))];
                    QByteArray wrong = a;
                    while (wrong.at(0) == a.at(0))
                        wrong = r_.pickText({"/X", "(s)", "[1]", "<< >>", "true", "null", "12"});
                    a = wrong;
                    tag += ": an operand of the wrong kind";
                }
                break;
            case 4:
                // A resource name the page lacks, or a name that lost its slash.
                for (QByteArray& a : args)
                    if (a.startsWith('/') && a.size() > 1) {
                        if (r_.chance(0.5)) {
                            a = a.mid(1);
                            tag += ": a name without its slash";
                        } else {
                            a = "/Missing";
                            tag += ": a resource the page lacks";
                        }
                        break;
                    }
                break;
            case 5:
                if (!args.isEmpty() && !args.last().endsWith(')') && !args.last().endsWith(']') &&
                    !args.last().endsWith('>')) {
                    // The operator glued to its last operand: "0 0cm".
                    pieces_.append({tag + ": glued to its operand", sep() + args.join(' ') + name, 0});
                    return;
                }
                break;
            default:
                tag += ": a long operand";
                if (!args.isEmpty())
                    args.last() = r_.chance(0.5) ? "1" + QByteArray(130, '0') : "/" + QByteArray(130, 'N');
            }
        }
        QByteArray text = sep();
        for (const QByteArray& a : args)
            text += a + " ";
        add(tag, text + name);
    }

    void graphicsState() {
        static const QList<QByteArray> ops = {"w", "J", "j", "M", "d", "ri", "i", "gs", "cm"};
        op(r_.pick(ops));
    }
    void colourOp() {
        static const QList<QByteArray> ops = {"CS", "cs", "SC", "SCN", "sc", "scn",
                                              "G",  "g",  "RG", "rg",  "K",  "k"};
        op(r_.pick(ops));
    }

    void path() {
        if (r_.chance(0.4)) {
            op("re");
        } else {
            op("m");
            for (int k = 0, n = 1 + r_.below(3); k < n; ++k)
                op(r_.pick(QList<QByteArray>{"l", "c", "v", "y"}));
            if (r_.chance(0.5))
                op("h");
        }
        if (r_.chance(0.2))
            op(r_.chance(0.5) ? "W" : "W*");
        static const QList<QByteArray> paint = {"S", "s", "f", "F", "f*", "B", "B*", "b", "b*", "n"};
        if (!r_.chance(faults_ * 0.5))
            op(r_.pick(paint));
    }

    void text(int depth) {
        add("BT", sep() + "BT");
        if (r_.chance(0.9))
            op("Tf");
        static const QList<QByteArray> ops = {"Tc", "Tw", "Tz", "TL", "Tr", "Ts", "Td", "TD",
                                              "Tm", "T*", "Tj", "TJ", "'",  "\"", "Tj", "Tj"};
        for (int k = 0, n = 1 + r_.below(5); k < n; ++k) {
            if (r_.chance(0.15))
                colourOp();
            else if (r_.chance(0.08) && depth < 3)
                marked(depth + 1, true);
            else
                op(r_.pick(ops));
        }
        close("ET");
    }

    // A closing operator, now and then left out or given twice.
    void close(const QByteArray& name) {
        if (r_.chance(faults_ * 0.4))
            return;
        add(name, sep() + name);
        if (r_.chance(faults_ * 0.2))
            add(name + ": again", sep() + name);
    }

    void marked(int depth, bool inText) {
        static const QList<QByteArray> opens = {
            "/OC /L1 BDC",
            "/OC /L2 BDC",
            "/OC /M2 BDC",
            "/Span << /MCID 0 >> BDC",
            "/Artifact BMC",
            "/P << /MCID 1 /Lang (en) >> BDC",
            "/Span << /ActualText (x\\)) >> BDC",
        };
        QByteArray open = r_.pick(opens);
        QByteArray tag = open;
        if (r_.chance(faults_ * 0.3)) {
            open = r_.pickText({"/Span << /MCID >> BDC", "/Span << /ActualText >> BDC", "/OC /Missing BDC",
                                "/OC BDC", "BMC"});
            tag = open;
        }
        add(tag, sep() + open);
        for (int k = 0, n = r_.below(3); k < n; ++k) {
            if (inText)
                op(r_.pick(QList<QByteArray>{"Tj", "Td", "TJ"}));
            else
                statement(depth + 1, true);
        }
        close("EMC");
    }

    void inlineImage() {
        struct Image {
            const char* tag;
            QByteArray text;
        };
        const QByteArray rgb("\x20\x80\xff\xff\x40\x40\x10\xa0\x30\x90\x90\xf0", 12);
        static const QList<QByteArray> variants = {"plain",      "EI in data", "hex",      "no EI",
                                                   "I no value", "CCITT",      "/L given", "W no value"};
        const QByteArray v = r_.pick(variants);
        QByteArray text = sep() + "q 40 0 0 40 " + x() + " " + x() + " cm" + sep() + "BI ";
        if (v == "plain")
            text += "/W 2 /H 2 /BPC 8 /CS /RGB ID " + rgb + " EI";
        else if (v == "EI in data")
            text += "/W 2 /H 2 /BPC 8 /CS /RGB ID " +
                    QByteArray("\x20 EI Q\x40\x10\xa0\x30\x90\x90\xf0", 12) + " EI";
        else if (v == "hex")
            text += "/W 2 /H 2 /BPC 8 /CS /G /F /AHx ID 20FF80 40> EI";
        else if (v == "no EI")
            text += "/W 2 /H 2 /BPC 8 /CS /RGB ID " + rgb;
        else if (v == "I no value")
            text += "/W 2 /H 2 /BPC 8 /CS /RGB /I ID " + rgb + " EI";
        else if (v == "W no value")
            text += "/H 2 /BPC 8 /CS /RGB /W ID " + rgb + " EI";
        else if (v == "CCITT")
            text += "/W 8 /H 8 /IM true /F /CCF /DP << /K -1 /Columns 8 >> ID " +
                    QByteArray("\x26\xa0\x15\xff\x00\x07", 6) + " EI";
        else
            text += "/W 2 /H 2 /BPC 8 /CS /RGB /L 12 ID " + rgb + " EI";
        add("inline image: " + v, text);
        close("Q");
    }

    // Junk between statements: what one reader skips and another stops at.
    void junk() {
        static const QList<QByteArray> junks = {
            ")",         ">",       "}",         "{",        "]",      "[",   "<<",   ">>",
            "foo",       "1 2 bar", "endstream", "endobj",   "R",      "obj", "true", "null",
            "(unclosed", "<41 4G>", "/",         "%comment", "12 0 R", "EI",  "ID",   "BI",
        };
        const QByteArray j = r_.pick(junks);
        if (j == "(unclosed" && !r_.chance(0.2))
            return; // swallows the rest: rare
        add("junk: " + j, sep() + j + (j.startsWith('%') ? "\n" : ""));
    }

    void manyErrors() {
        const int n = 60 + r_.below(80);
        QByteArray text;
        for (int k = 0; k < n; ++k)
            text += sep() + r_.pickText({")", ">", "}", "{", "foo", "]"});
        add("junk: " + QByteArray::number(n) + " syntax errors", text);
    }

    void longToken() {
        switch (r_.below(4)) {
        case 0:
            add("a long operator", sep() + QByteArray(128 + r_.below(20), 'x'));
            break;
        case 1:
            add("a long name", sep() + "/" + QByteArray(128 + r_.below(20), 'N') + " MP");
            break;
        case 2:
            add("a long number", sep() + "0." + QByteArray(128 + r_.below(20), '5') + " w");
            break;
        default:
            add("a long string", sep() + "BT /F1 9 Tf 60 120 Td (" + QByteArray(200, 'S') + ") Tj ET");
        }
    }

    void statement(int depth, bool inMarked) {
        if (r_.chance(faults_ * 0.5)) {
            switch (r_.below(8)) {
            case 0:
                manyErrors();
                return;
            case 1:
                longToken();
                return;
            case 2: {
                const QByteArray closing = r_.pickText({"Q", "ET", "EMC", "EX"});
                add("extra " + closing, sep() + closing);
                return;
            }
            default:
                junk();
                return;
            }
        }
        const int k = r_.below(depth >= 3 ? 9 : 13);
        switch (k) {
        case 0:
            graphicsState();
            break;
        case 1:
            colourOp();
            break;
        case 2:
        case 3:
            path();
            break;
        case 4:
            text(depth);
            break;
        case 5:
            inlineImage();
            break;
        case 6:
            if (r_.chance(0.5)) {
                add("Do: image", sep() + "q 30 0 0 30 " + x() + " " + x() + " cm");
                op("Do", "/Im1");
                close("Q");
            } else {
                add("Do: form", sep() + "q 1 0 0 1 " + x() + " " + x() + " cm");
                op("Do", "/Fm1");
                close("Q");
            }
            break;
        case 7:
            if (r_.chance(0.5)) {
                add("sh", sep() + "q " + x() + " " + x() + " 40 30 re W n");
                op("sh");
                close("Q");
            } else {
                op(r_.chance(0.5) ? "MP" : "DP");
            }
            break;
        case 8:
            add("comment", sep() + "% " + r_.pickText({"a comment", "( ) << >> Q", "endstream", "BDC q BT"}) +
                               r_.pickText({"\n", "\r", "\r\n"}));
            break;
        case 9:
        case 10:
            add("q", sep() + "q");
            for (int n = 1 + r_.below(3); n > 0; --n)
                statement(depth + 1, inMarked);
            close("Q");
            break;
        case 11:
            marked(depth + 1, false);
            break;
        default:
            add("BX", sep() + "BX");
            add("unknown operator in BX", sep() + r_.pickText({"1 2 foo", "/X bar", "baz", "(s) 1 qux"}));
            if (r_.chance(0.5))
                statement(depth + 1, inMarked);
            close("EX");
        }
        if (r_.chance(0.03))
            op(r_.chance(0.5) ? "d0" : "d1");
    }

    void tail() {
        static const QList<QByteArray> tails = {
            " 0Q",  " .5Q",      " -Q",   " 1Q",  " 0q",
            " 1.Q", " +Q",       " 0EMC", " 1ET", " % a comment at the end",
            "\n%",  " 0 0 1 rg%"};
        const QByteArray t = r_.pick(tails);
        add("at the end: " + t.trimmed(), t);
    }
};

QByteArray Escape(const QByteArray& text) {
    QByteArray out;
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 32 || c >= 127)
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
        else
            out += char(c);
    }
    return out;
}

QByteArray Stream(const QByteArray& data, bool flate) {
    if (!flate)
        return PdfStream(data);
    return PdfStream(qCompress(data, 6).mid(4), " /Filter /FlateDecode");
}

const QList<QByteArray> kFeatures = {
    "contents-array", "flate",         "xref-stream",      "object-streams",
    "update-content", "update-page",   "nested-tree",      "inherit-resources",
    "inherit-rotate", "rotate",        "crop-box",         "media-offset",
    "dup-kids",       "count-high",    "count-low",        "null-resources",
    "missing-rotate", "annot",         "annot-missing-ap", "size-high",
    "size-low",       "oc-base-state", "oc-none",          "null-crop-box",
};

} // namespace

bool Recipe::has(const char* feature) const {
    return structure.contains(QByteArray(feature));
}

QByteArray Recipe::describe() const {
    QByteArray out = "seed " + QByteArray::number(qulonglong(seed)) + "\npages " + QByteArray::number(pages) +
                     "\nfeatures " + structure.join(' ') + "\n";
    for (const ContentPiece& p : content)
        out += "piece " + QByteArray::number(p.stream) + " [" + p.tag + "] " + Escape(p.text) + "\n";
    return out;
}

QByteArray Recipe::contentText() const {
    QByteArray out;
    for (const ContentPiece& p : content)
        out += p.text;
    return out;
}

QList<QByteArray> StructureFeatures() {
    return kFeatures;
}

Recipe MakeRecipe(uint64_t seed) {
    Rng r(seed * 0x9E3779B97F4A7C15ull + 1);
    Recipe recipe;
    recipe.seed = seed;
    recipe.pages = r.chance(0.6) ? 1 : 2 + r.below(2);
    // A fifth of the files keep to the grammar: the tool must vouch for them and number them right.
    static const double rates[] = {0, 0.05, 0.15, 0.3};
    const double faults = rates[r.below(4)];
    recipe.content = ContentWriter(r, faults).write();
    for (const QByteArray& f : kFeatures)
        if (r.chance(f == "flate" || f == "contents-array" ? 0.3 : 0.07))
            recipe.structure.append(f);
    if (recipe.has("contents-array")) {
        // Split into two or three streams at piece boundaries.
        const int streams = 2 + r.below(2);
        int stream = 0;
        for (int k = 0; k < recipe.content.size(); ++k) {
            if (stream < streams - 1 && r.chance(1.5 / std::max<qsizetype>(1, recipe.content.size())))
                ++stream;
            recipe.content[k].stream = stream;
        }
    }
    return recipe;
}

Recipe HandRecipe(const QByteArray& content, const QList<QByteArray>& features, int pages) {
    Recipe recipe;
    recipe.pages = pages;
    recipe.structure = features;
    for (const QByteArray& line : content.split('|'))
        recipe.content.append({"hand", line, 0});
    if (recipe.has("contents-array"))
        for (int k = 0; k < recipe.content.size(); ++k)
            recipe.content[k].stream = k;
    return recipe;
}

QByteArray BuildPdf(const Recipe& recipe) {
    const bool flate = recipe.has("flate");
    const int pages = std::max(1, recipe.pages);
    PdfRevision rev;
    auto ref = [](int n) { return QByteArray::number(n) + " 0 R"; };

    // The page's own drawing, away from the number's corner, always first.
    const QByteArray base =
        "0.85 0.9 1 rg 40 60 220 200 re f 0.2 0.2 0.5 rg BT /F1 24 Tf 60 200 Td (Base) Tj ET\n";
    QList<QByteArray> streams;
    for (const ContentPiece& p : recipe.content) {
        while (streams.size() <= p.stream)
            streams.append(QByteArray());
        streams[p.stream] += p.text;
    }
    if (streams.isEmpty())
        streams.append(QByteArray());
    streams[0].prepend(base);
    if (!recipe.has("contents-array") && streams.size() > 1) {
        const QByteArray all = streams.join();
        streams = {all};
    }
    QByteArray contents;
    if (streams.size() == 1 && !recipe.has("contents-array")) {
        contents = ref(kContent1);
        rev.objects[kContent1] = Stream(streams[0], flate);
    } else {
        contents = "[" + ref(kContent1);
        rev.objects[kContent1] = Stream(streams[0], flate);
        for (int k = 1; k < streams.size() && k < 3; ++k) {
            contents += " " + ref(kMoreContent + k - 1);
            rev.objects[kMoreContent + k - 1] = Stream(streams[k], flate);
        }
        contents += "]";
    }

    const QByteArray resources = "<< /Font << /F1 " + ref(kFont) + " >> /ExtGState << /GS1 " + ref(kGState) +
                                 " >> /XObject << /Im1 " + ref(kImage) + " /Fm1 " + ref(kForm) +
                                 " >> /Properties << /L1 " + ref(kLayerOn) + " /L2 " + ref(kLayerOff) +
                                 " /M2 " + ref(kOcmd) +
                                 " >> /ColorSpace << /CS1 [/Indexed /DeviceRGB 1 <FF8080 80FF80>] >> "
                                 "/Shading << /Sh1 " +
                                 ref(kShading) + " >> >>";
    rev.objects[kResources] = resources;
    rev.objects[kFont] = "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>";
    rev.objects[kGState] = "<< /Type /ExtGState /LW 2 /CA 0.6 /ca 0.6 >>";
    rev.objects[kImage] = PdfStream(QByteArray("\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\x00", 12),
                                    " /Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
                                    "/ColorSpace /DeviceRGB");
    rev.objects[kForm] = PdfStream("0.5 1 0.5 rg 0 0 30 30 re f",
                                   " /Type /XObject /Subtype /Form /BBox [0 0 30 30] /Resources << >>");
    rev.objects[kLayerOn] = "<< /Type /OCG /Name (Shown) >>";
    rev.objects[kLayerOff] = "<< /Type /OCG /Name (Hidden) >>";
    rev.objects[kOcmd] = "<< /Type /OCMD /OCGs [" + ref(kLayerOff) + "] /P /AllOn >>";
    rev.objects[kShading] = "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 300 0] /Function << "
                            "/FunctionType 2 /Domain [0 1] /C0 [1 0.8 0.8] /C1 [0.8 0.8 1] /N 1 >> >>";

    QByteArray catalog = "<< /Type /Catalog /Pages " + ref(kPages);
    if (!recipe.has("oc-none")) {
        catalog += " /OCProperties << /OCGs [" + ref(kLayerOn) + " " + ref(kLayerOff) + "] /D << ";
        catalog += recipe.has("oc-base-state") ? "/BaseState /OFF /ON [" + ref(kLayerOn) + "]"
                                               : "/OFF [" + ref(kLayerOff) + "]";
        catalog += " >> >>";
    }
    rev.objects[kCatalog] = catalog + " >>";

    // Page 1.
    const QByteArray box = recipe.has("media-offset") ? "[100 50 400 350]" : "[0 0 300 300]";
    QByteArray page1 = "<< /Type /Page /Parent " + ref(recipe.has("nested-tree") ? kMidNode : kPages) +
                       " /Contents " + contents;
    if (recipe.has("null-resources"))
        page1 += " /Resources " + ref(kNull);
    else if (!recipe.has("inherit-resources"))
        page1 += " /Resources " + ref(kResources);
    if (recipe.has("rotate"))
        page1 += " /Rotate " + QByteArray::number(90 * (1 + int(recipe.seed % 3)));
    if (recipe.has("missing-rotate"))
        page1 += " /Rotate 99 0 R";
    if (recipe.has("crop-box"))
        page1 += recipe.has("media-offset") ? " /CropBox [120 70 380 330]" : " /CropBox [20 20 280 280]";
    if (recipe.has("null-crop-box"))
        page1 += " /CropBox " + ref(kNull);
    if (recipe.has("annot") || recipe.has("annot-missing-ap"))
        page1 += " /Annots [" + ref(kAnnot) + "]";
    rev.objects[kPage1] = page1 + " >>";
    if (recipe.has("null-resources") || recipe.has("null-crop-box"))
        rev.objects[kNull] = "null";
    if (recipe.has("annot")) {
        rev.objects[kAnnot] =
            "<< /Type /Annot /Subtype /Square /Rect [150 20 250 50] /C [1 0 0] /Border [0 0 2] "
            "/AP << /N " +
            ref(kAnnotAp) + " >> >>";
        rev.objects[kAnnotAp] =
            PdfStream("1 0 0 RG 2 w 1 1 98 28 re S", " /Type /XObject /Subtype /Form /BBox [0 0 100 30]");
    }

    // Other pages.
    QList<int> kids{kPage1};
    for (int k = 1; k < pages; ++k) {
        const int page = kOtherPages + 2 * (k - 1), content = page + 1;
        kids.append(page);
        rev.objects[page] = "<< /Type /Page /Parent " + ref(kPages) + " /Contents " + ref(content) +
                            " /Resources << /Font << /F1 " + ref(kFont) + " >> >> >>";
        rev.objects[content] = Stream("0.9 0.8 0.7 rg 50 50 200 200 re f BT /F1 30 Tf 100 120 Td (P" +
                                          QByteArray::number(k + 1) + ") Tj ET",
                                      flate);
    }
    if (recipe.has("annot-missing-ap")) {
        // The appearance names the first number above every object the file has.
        int highest = rev.objects.rbegin()->first;
        highest = std::max(highest, int(kAnnot));
        rev.objects[kAnnot] =
            "<< /Type /Annot /Subtype /Square /Rect [150 20 250 50] /C [0 0 1] /Border [0 0 3] "
            "/AP << /N " +
            ref(highest + 1) + " >> >>";
    }

    // The page tree.
    QByteArray kidList;
    int count = pages;
    if (recipe.has("nested-tree")) {
        kidList = ref(kMidNode);
        for (int k = 1; k < kids.size(); ++k)
            kidList += " " + ref(kids[k]);
        rev.objects[kMidNode] =
            "<< /Type /Pages /Parent " + ref(kPages) + " /Kids [" + ref(kPage1) + "] /Count 1 >>";
    } else {
        for (int k : kids)
            kidList += (kidList.isEmpty() ? "" : " ") + ref(k);
    }
    if (recipe.has("dup-kids"))
        kidList += " " + ref(kPage1);
    if (recipe.has("count-high"))
        count += 2;
    if (recipe.has("count-low") && count > 1)
        count -= 1;
    QByteArray node =
        "<< /Type /Pages /Kids [" + kidList + "] /Count " + QByteArray::number(count) + " /MediaBox " + box;
    if (recipe.has("inherit-resources") || recipe.has("null-resources"))
        node += " /Resources " + ref(kResources);
    if (recipe.has("inherit-rotate"))
        node += " /Rotate 90";
    rev.objects[kPages] = node + " >>";

    rev.trailer = "/Root " + ref(kCatalog);
    if (recipe.has("xref-stream") || recipe.has("object-streams"))
        rev.xrefStream = true;
    if (recipe.has("object-streams"))
        for (int n : {kCatalog, kPages, kPage1, kResources, kFont, kGState, kLayerOn, kLayerOff, kOcmd})
            if (rev.objects.count(n))
                rev.inObjectStream[n] = 90;
    const int highest = rev.objects.rbegin()->first;
    if (recipe.has("size-high"))
        rev.size = highest + 500;
    if (recipe.has("size-low"))
        rev.size = 8;

    QList<PdfRevision> revisions{rev};
    if (recipe.has("update-content") || recipe.has("update-page")) {
        // The first revision shows the base drawing only; the update brings the content (or the page).
        PdfRevision update;
        update.trailer = rev.trailer;
        update.xrefStream = rev.xrefStream;
        if (recipe.has("update-content")) {
            revisions[0].objects[kContent1] = Stream(base, flate);
            update.objects[kContent1] = rev.objects[kContent1];
        }
        if (recipe.has("update-page")) {
            QByteArray p = rev.objects[kPage1];
            p.chop(2);
            update.objects[kPage1] = p + (p.contains("/Rotate") ? "/UserUnit 1 >>" : "/Rotate 180 >>");
            revisions[0].objects[kPage1] = p + ">>";
        }
        revisions.append(update);
    }
    return PdfFile(revisions);
}
