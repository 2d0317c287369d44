#include "EmbeddedFont.h"

#include "PdfNumber.h"

#include <fribidi.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

// A number in the font's dictionaries and its glyphs' positions: at most 3 decimals.
std::string number(double v) {
    return PdfNumber(v, 3);
}

std::string utf16Hex(const std::u32string& text) {
    std::string s;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            c -= 0x10000;
            s += hex4(0xD800 + (c >> 10));
            s += hex4(0xDC00 + (c & 0x3FF));
        } else {
            s += hex4(c);
        }
    }
    return s;
}

// Characters drawn as nothing, which fonts rarely have and HarfBuzz leaves out of the drawing.
bool drawnAsNothing(char32_t c) {
    return c == 0xAD || c == 0x34F || c == 0x61C || (c >= 0x115F && c <= 0x1160) ||
           (c >= 0x17B4 && c <= 0x17B5) || (c >= 0x180B && c <= 0x180F) || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0xFEFF || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0xE0000 && c <= 0xE0FFF);
}

bool blank(char32_t c) {
    return c == ' ' || c == 0xA0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
           c == 0x3000 || c == 0x1680 || drawnAsNothing(c);
}

struct Table {
    hb_blob_t* blob;
    const unsigned char* data;
    unsigned size;
    Table(hb_face_t* face, const char* tag)
        : blob(hb_face_reference_table(face, hb_tag_from_string(tag, 4))) {
        data = reinterpret_cast<const unsigned char*>(hb_blob_get_data(blob, &size));
    }
    ~Table() { hb_blob_destroy(blob); }
    int s16(unsigned at) const { return at + 2 <= size ? int16_t(data[at] << 8 | data[at + 1]) : 0; }
    unsigned u32(unsigned at) const {
        return at + 4 <= size
                   ? unsigned(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3]
                   : 0;
    }
};

// One glyph of a shaped text, in the order drawn (left to right); positions in font units.
struct Glyph {
    unsigned id;
    int xAdvance, xOffset, yOffset;
    unsigned cluster; // index of its first character in the text
};

struct Shaped {
    std::vector<Glyph> glyphs;
    long advance = 0;
    bool rightToLeft = false; // some run of it is drawn right to left
};

} // namespace

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    for (size_t k = 0; k < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[k]);
        const int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || k + size_t(extra) >= text.size() + (extra == 0 ? 1 : 0))
            return std::nullopt;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int j = 1; j <= extra; ++j) {
            const unsigned char t = static_cast<unsigned char>(text[k + size_t(j)]);
            if ((t >> 6) != 2)
                return std::nullopt;
            c = c << 6 | (t & 0x3F);
        }
        static const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        out += c;
        k += size_t(extra) + 1;
    }
    return out;
}

std::string DescribeCharacter(char32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", unsigned(c));
    std::string s = buf;
    if (c >= 0x20 && !(c >= 0x7F && c < 0xA0)) {
        std::string utf8;
        if (c < 0x80) {
            utf8 += char(c);
        } else if (c < 0x800) {
            utf8 += char(0xC0 | c >> 6);
            utf8 += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += char(0xE0 | c >> 12);
            utf8 += char(0x80 | (c >> 6 & 0x3F));
            utf8 += char(0x80 | (c & 0x3F));
        } else {
            utf8 += char(0xF0 | c >> 18);
            utf8 += char(0x80 | (c >> 12 & 0x3F));
            utf8 += char(0x80 | (c >> 6 & 0x3F));
            utf8 += char(0x80 | (c & 0x3F));
        }
        s += " (" + utf8 + ")";
    }
    return s;
}

std::shared_ptr<EmbeddedFont> EmbeddedFont::open(const std::string& path, unsigned index) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw FontError("the font " + path + " does not exist");
    if (S_ISDIR(st.st_mode))
        throw FontError("the font " + path + " is a folder, not a font file");
    if (::access(path.c_str(), R_OK) != 0)
        throw FontError("the font " + path + " cannot be read");
    // Mapped where the system maps files: a large font is never held twice.
    hb_blob_t* blob = hb_blob_create_from_file_or_fail(path.c_str());
    if (!blob)
        throw FontError("the font " + path + " cannot be read");
    return std::shared_ptr<EmbeddedFont>(new EmbeddedFont(blob, index, path));
}

std::shared_ptr<EmbeddedFont> EmbeddedFont::fromBytes(std::string bytes, unsigned index,
                                                      const std::string& name) {
    auto* held = new std::string(std::move(bytes));
    hb_blob_t* blob = hb_blob_create_or_fail(held->data(), unsigned(held->size()), HB_MEMORY_MODE_READONLY,
                                             held, [](void* p) { delete static_cast<std::string*>(p); });
    if (!blob) {
        delete held;
        throw FontError("the font " + name + " cannot be held in memory");
    }
    return std::shared_ptr<EmbeddedFont>(new EmbeddedFont(blob, index, name));
}

EmbeddedFont::EmbeddedFont(hb_blob_t* blob, unsigned index, std::string source)
    : blob_(blob)
    , source_(std::move(source)) {
    const auto damaged = [&](const std::string& why) {
        return FontError("the font " + source_ + " is damaged: " + why);
    };
    const unsigned faces = hb_face_count(blob_);
    if (faces == 0) {
        unsigned size = 0;
        const char* data = hb_blob_get_data(blob_, &size);
        const std::string start(data ? data : "", std::min(size, 4u));
        hb_blob_destroy(blob_);
        // A font's own first bytes, but no table directory HarfBuzz can read: a font cut short.
        if (start == std::string("\0\1\0\0", 4) || start == "OTTO" || start == "true" || start == "ttcf")
            throw FontError("the font " + source_ +
                            " is damaged: it is cut short or its table directory is unreadable");
        throw FontError("the font " + source_ + " is no TrueType or OpenType font");
    }
    if (index >= faces) {
        hb_blob_destroy(blob_);
        throw FontError("the font " + source_ + " holds " + std::to_string(faces) + " font" +
                        (faces == 1 ? "" : "s") + ": its index must be 0" +
                        (faces == 1 ? "" : " to " + std::to_string(faces - 1)));
    }
    face_ = hb_face_create(blob_, index);
    try {
        const auto has = [&](const char* tag) { return Table(face_, tag).size > 0; };
        {
            const Table head(face_, "head");
            if (head.size < 54 || head.u32(12) != 0x5F0F3CF5u)
                throw damaged("no valid font header");
        }
        if (hb_face_get_glyph_count(face_) == 0)
            throw damaged("it has no glyphs");
        for (const char* tag : {"cmap", "hhea", "hmtx"})
            if (!has(tag))
                throw damaged(std::string("its ") + tag + " table is missing or unreadable");
        cff_ = has("CFF ");
        if (!cff_ && !(has("glyf") && has("loca")))
            throw FontError(has("CFF2")
                                ? "the font " + source_ + " has variable CFF2 outlines, which PDF can't embed"
                                : "the font " + source_ + " is damaged: it has no outlines");
        upem_ = hb_face_get_upem(face_);
        if (upem_ < 16 || upem_ > 16384)
            throw damaged("its units per em are out of range");
        font_ = hb_font_create(face_);
        hb_font_set_scale(font_, int(upem_), int(upem_));
        hb_font_make_immutable(font_);
        hb_face_make_immutable(face_);

        char name[128];
        unsigned length = sizeof name;
        hb_ot_name_get_utf8(face_, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &length, name);
        for (unsigned k = 0; k < length && name[k]; ++k)
            if ((name[k] >= 'A' && name[k] <= 'Z') || (name[k] >= 'a' && name[k] <= 'z') ||
                (name[k] >= '0' && name[k] <= '9') || name[k] == '-' || name[k] == '_')
                psName_ += name[k];
        if (psName_.empty())
            psName_ = "Font";
        psName_.resize(std::min<size_t>(psName_.size(), 60));
    } catch (...) {
        hb_font_destroy(font_);
        hb_face_destroy(face_);
        hb_blob_destroy(blob_);
        throw;
    }
}

EmbeddedFont::~EmbeddedFont() {
    hb_font_destroy(font_);
    hb_face_destroy(face_);
    hb_blob_destroy(blob_);
}

std::optional<char32_t> EmbeddedFont::firstMissing(std::string_view text) const {
    const std::optional<std::u32string> chars = DecodeUtf8(text);
    if (!chars)
        return std::nullopt;
    for (char32_t c : *chars) {
        hb_codepoint_t glyph = 0;
        if (!drawnAsNothing(c) && !hb_font_get_nominal_glyph(font_, c, &glyph))
            return c;
    }
    return std::nullopt;
}

namespace {

// Runs of one direction and script, in the order the bidirectional algorithm shows them.
struct Run {
    size_t start, length;
    int level;
    hb_script_t script;
};

std::vector<Run> visualRuns(const std::u32string& text) {
    const auto n = FriBidiStrIndex(text.size());
    std::vector<FriBidiChar> chars(text.begin(), text.end());
    std::vector<FriBidiCharType> types(text.size());
    std::vector<FriBidiBracketType> brackets(text.size());
    std::vector<FriBidiLevel> levels(text.size());
    fribidi_get_bidi_types(chars.data(), n, types.data());
    fribidi_get_bracket_types(chars.data(), n, types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &direction, levels.data()) == 0)
        std::fill(levels.begin(), levels.end(), 0);

    // A character common to scripts (digits, spaces, signs) or a mark goes with the script around it.
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    std::vector<hb_script_t> scripts(text.size());
    hb_script_t last = HB_SCRIPT_INVALID;
    for (size_t k = 0; k < text.size(); ++k) {
        const hb_script_t s = hb_unicode_script(unicode, text[k]);
        scripts[k] = s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN ? last : s;
        if (scripts[k] != HB_SCRIPT_INVALID)
            last = scripts[k];
    }
    for (size_t k = text.size(); k-- > 0;)
        if (scripts[k] == HB_SCRIPT_INVALID)
            scripts[k] = k + 1 < text.size() ? scripts[k + 1] : HB_SCRIPT_LATIN;

    std::vector<Run> runs;
    for (size_t k = 0; k < text.size(); ++k) {
        if (!runs.empty() && runs.back().level == levels[k] && runs.back().script == scripts[k])
            ++runs.back().length;
        else
            runs.push_back({k, 1, levels[k], scripts[k]});
    }
    // From the highest level down to the lowest odd one, every stretch of runs at that level or
    // above turns round.
    int highest = 0, lowestOdd = 1000;
    for (const Run& r : runs) {
        highest = std::max(highest, r.level);
        if (r.level % 2)
            lowestOdd = std::min(lowestOdd, r.level);
    }
    for (int level = highest; level >= lowestOdd && level > 0; --level)
        for (size_t k = 0; k < runs.size();) {
            if (runs[k].level < level) {
                ++k;
                continue;
            }
            size_t end = k;
            while (end < runs.size() && runs[end].level >= level)
                ++end;
            std::reverse(runs.begin() + std::ptrdiff_t(k), runs.begin() + std::ptrdiff_t(end));
            k = end;
        }
    return runs;
}

Shaped shape(hb_font_t* font, const std::u32string& text) {
    Shaped out;
    std::vector<uint32_t> chars(text.begin(), text.end());
    hb_buffer_t* buffer = hb_buffer_create();
    for (const Run& run : visualRuns(text)) {
        hb_buffer_clear_contents(buffer);
        // The whole text as context, so that letters join across the runs' edges.
        hb_buffer_add_utf32(buffer, chars.data(), int(chars.size()), unsigned(run.start), int(run.length));
        const bool rtl = run.level % 2 == 1;
        out.rightToLeft = out.rightToLeft || rtl;
        hb_buffer_set_direction(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer, run.script);
        hb_buffer_set_language(buffer, hb_language_get_default());
        // Each character its own cluster where the font allows, for the text's read-back.
        hb_buffer_set_cluster_level(buffer, HB_BUFFER_CLUSTER_LEVEL_CHARACTERS);
        hb_buffer_set_flags(buffer, hb_buffer_flags_t(HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES));
        hb_shape(font, buffer, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        for (unsigned k = 0; k < count; ++k) {
            out.glyphs.push_back(
                {info[k].codepoint, pos[k].x_advance, pos[k].x_offset, pos[k].y_offset, info[k].cluster});
            out.advance += pos[k].x_advance;
        }
    }
    hb_buffer_destroy(buffer);
    return out;
}

} // namespace

class EmbeddedSubset : public FontSubset {
public:
    EmbeddedSubset(const EmbeddedFont& font, const std::vector<std::string>& texts, double fontSize);
    const std::string& show(const std::string& text) const override;
    double advance(std::string_view text) const override;
    double capHeight() const override { return capHeight_; }
    double descent() const override { return -descent_; }
    std::vector<Object> objects(const std::vector<int>& numbers) const override;

private:
    struct Drawn {
        std::string operators;
        double width = 0;
    };
    std::string drawing(const Shaped& shaped, const std::u32string& text) const;

    const EmbeddedFont& font_;
    double fontSize_;
    double scale_; // font units to thousandths of the em
    std::unordered_map<std::string, Drawn> drawn_;
    std::map<unsigned, int> advances_;           // glyph id to advance, in font units
    std::map<unsigned, std::u32string> unicode_; // glyph id to the characters it stands for
    std::string baseName_;                       // ABCDEF+Name
    std::string fontFile_;                       // compressed
    std::string fontFileDictionary_;
    double capHeight_ = 0.7, ascent_ = 0.8, descent_ = -0.2, italicAngle_ = 0;
    int bbox_[4] = {};
};

std::unique_ptr<FontSubset> EmbeddedFont::subset(const std::vector<std::string>& texts,
                                                 double fontSize) const {
    return std::make_unique<EmbeddedSubset>(*this, texts, fontSize);
}

EmbeddedSubset::EmbeddedSubset(const EmbeddedFont& font, const std::vector<std::string>& texts,
                               double fontSize)
    : font_(font)
    , fontSize_(fontSize)
    , scale_(1000.0 / font.upem_) {
    advances_[0] = hb_font_get_glyph_h_advance(font.font_, 0);
    std::vector<std::pair<const std::string*, Shaped>> shapedTexts;
    std::set<char32_t> used;
    for (const std::string& text : texts) {
        if (drawn_.count(text))
            continue;
        const std::optional<std::u32string> chars = DecodeUtf8(text);
        if (!chars)
            throw FontError("a text to print is no UTF-8");
        if (const std::optional<char32_t> missing = font.firstMissing(text))
            throw FontError("the font " + font.source_ + " has no glyph for " + DescribeCharacter(*missing));
        used.insert(chars->begin(), chars->end());
        Shaped shaped = shape(font.font_, *chars);
        // Each glyph reads back as the characters of its cluster: from its cluster's first
        // character up to the next cluster's, given to the first glyph of the cluster met.
        std::set<unsigned> starts;
        for (const Glyph& g : shaped.glyphs)
            starts.insert(g.cluster);
        std::set<unsigned> given;
        for (const Glyph& g : shaped.glyphs) {
            advances_.emplace(g.id, hb_font_get_glyph_h_advance(font.font_, g.id));
            if (!given.insert(g.cluster).second)
                continue;
            const auto next = starts.upper_bound(g.cluster);
            const size_t end = next == starts.end() ? chars->size() : *next;
            unicode_.emplace(g.id, chars->substr(g.cluster, end - g.cluster));
        }
        Drawn& d = drawn_[text];
        d.operators = drawing(shaped, *chars);
        d.width = double(shaped.advance) / font.upem_;
    }

    // Metrics for the descriptor and the placement.
    hb_position_t v = 0;
    const double em = font.upem_;
    if (hb_ot_metrics_get_position(font.font_, HB_OT_METRICS_TAG_CAP_HEIGHT, &v) && v > 0)
        capHeight_ = v / em;
    if (hb_ot_metrics_get_position(font.font_, HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER, &v))
        ascent_ = v / em;
    if (hb_ot_metrics_get_position(font.font_, HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER, &v))
        descent_ = v / em;
    italicAngle_ = hb_style_get_value(font.font_, HB_STYLE_TAG_SLANT_ANGLE);
    if (!std::isfinite(italicAngle_) || std::fabs(italicAngle_) > 90)
        italicAngle_ = 0;
    {
        const Table head(font.face_, "head");
        for (int k = 0; k < 4; ++k)
            bbox_[k] = int(std::lround(head.s16(36 + 2 * unsigned(k)) * scale_));
    }

    // The subset: these glyphs under their own ids, no layout tables (the text is shaped already),
    // no hinting (viewers scale the outlines themselves).
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (!input)
        throw FontError("out of memory making a font subset");
    hb_set_t* glyphs = hb_subset_input_glyph_set(input);
    for (const auto& [id, advance] : advances_)
        hb_set_add(glyphs, id);
    hb_set_t* unicodes = hb_subset_input_unicode_set(input);
    for (char32_t c : used)
        if (!drawnAsNothing(c))
            hb_set_add(unicodes, c);
    hb_set_t* dropped = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (const char* tag : {"GSUB", "GPOS", "GDEF", "BASE", "JSTF", "MATH", "kern", "morx", "mort", "kerx",
                            "feat", "DSIG", "hdmx", "LTSH", "VDMX", "vhea", "vmtx", "COLR", "CPAL", "SVG ",
                            "sbix", "CBDT", "CBLC", "EBDT", "EBLC", "EBSC", "meta", "STAT"})
        hb_set_add(dropped, hb_tag_from_string(tag, 4));
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NO_HINTING |
                                         HB_SUBSET_FLAGS_DESUBROUTINIZE);
    hb_face_t* subset = hb_subset_or_fail(font.face_, input);
    hb_subset_input_destroy(input);
    if (!subset)
        throw FontError("the font " + font.source_ + " is damaged: its glyphs could not be subset");
    hb_blob_t* blob = hb_face_reference_blob(subset);
    unsigned size = 0;
    const char* data = hb_blob_get_data(blob, &size);
    std::string bytes(data ? data : "", data ? size : 0);
    hb_blob_destroy(blob);
    // What a viewer will get must read as a font with outlines for every visible glyph.
    bool sound = !bytes.empty();
    if (sound) {
        hb_blob_t* check =
            hb_blob_create(bytes.data(), unsigned(bytes.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr);
        hb_face_t* face = hb_face_create(check, 0);
        hb_font_t* f = hb_font_create(face);
        sound = hb_face_get_glyph_count(face) > advances_.rbegin()->first;
        for (const auto& [id, chars] : unicode_) {
            if (!sound)
                break;
            if (std::all_of(chars.begin(), chars.end(), blank))
                continue;
            hb_glyph_extents_t e{};
            sound = hb_font_get_glyph_extents(f, id, &e) && e.width != 0 && e.height != 0;
        }
        hb_font_destroy(f);
        hb_face_destroy(face);
        hb_blob_destroy(check);
    }
    hb_face_destroy(subset);
    if (!sound)
        throw FontError("the font " + font.source_ + " is damaged: glyphs it maps have no outlines");

    uLongf packedSize = compressBound(uLong(bytes.size()));
    fontFile_.resize(packedSize);
    if (compress2(reinterpret_cast<Bytef*>(fontFile_.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(bytes.data()), uLong(bytes.size()), 9) != Z_OK)
        throw FontError("out of memory compressing a font subset");
    fontFile_.resize(packedSize);
    fontFileDictionary_ = font.cff_
                              ? "<< /Subtype /OpenType /Filter /FlateDecode >>"
                              : "<< /Length1 " + std::to_string(bytes.size()) + " /Filter /FlateDecode >>";

    // The subset's tag comes from what it holds, so that the same file gets the same bytes on any
    // machine and in any part of a batch.
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](uint64_t v) {
        for (int k = 0; k < 8; ++k) {
            hash ^= (v >> (8 * k)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (char c : font.psName_)
        mix(uint64_t(static_cast<unsigned char>(c)));
    for (const auto& [id, advance] : advances_)
        mix(id);
    mix(bytes.size());
    std::string tag;
    for (int k = 0; k < 6; ++k) {
        tag += char('A' + hash % 26);
        hash /= 26;
    }
    baseName_ = tag + "+" + font.psName_;
}

// Glyph ids in hex, each moved to where HarfBuzz put it by the TJ adjustments between them, and
// raised (marks) by the text rise. Text with right-to-left runs is laid out in its visual order but
// drawn in its logical one, glyph by glyph leftwards where the runs go right to left: readers that
// extract text in the order drawn then read it as written, and a marked span says it outright.
std::string EmbeddedSubset::drawing(const Shaped& shaped, const std::u32string& text) const {
    struct Placed {
        const Glyph* glyph;
        double x; // origin, font units
    };
    std::vector<Placed> placed;
    double pen = 0;
    for (const Glyph& g : shaped.glyphs) {
        placed.push_back({&g, pen + g.xOffset});
        pen += g.xAdvance;
    }
    if (shaped.rightToLeft)
        std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
            return a.glyph->cluster < b.glyph->cluster;
        });
    std::string s;
    if (shaped.rightToLeft)
        s += "/Span <</ActualText <FEFF" + utf16Hex(text) + ">>> BDC ";
    s += "[";
    double current = 0; // where the PDF's pen is
    int rise = 0;
    bool inString = false; // glyphs that follow each other share one hex string
    for (const Placed& p : placed) {
        const Glyph& g = *p.glyph;
        const bool raise = g.yOffset != rise, move = std::fabs(p.x - current) * scale_ >= 5e-4;
        if (inString && (raise || move)) {
            s += ">";
            inString = false;
        }
        if (raise) {
            s += "] TJ " + number(g.yOffset * fontSize_ / font_.upem_) + " Ts [";
            rise = g.yOffset;
        }
        if (move)
            s += number(-(p.x - current) * scale_);
        if (!inString)
            s += "<";
        inString = true;
        s += hex4(g.id);
        current = p.x + advances_.at(g.id);
    }
    s += inString ? ">] TJ" : "] TJ";
    if (rise != 0)
        s += " 0 Ts";
    if (shaped.rightToLeft)
        s += " EMC";
    return s;
}

const std::string& EmbeddedSubset::show(const std::string& text) const {
    const auto it = drawn_.find(text);
    if (it == drawn_.end())
        throw std::logic_error("a text drawn that its font subset was not made for");
    return it->second.operators;
}

double EmbeddedSubset::advance(std::string_view text) const {
    const auto it = drawn_.find(std::string(text));
    if (it == drawn_.end())
        throw std::logic_error("a text measured that its font subset was not made for");
    return it->second.width;
}

std::vector<FontSubset::Object> EmbeddedSubset::objects(const std::vector<int>& numbers) const {
    const auto ref = [&](int k) { return std::to_string(numbers.at(size_t(k))) + " 0 R"; };
    std::vector<Object> out(kObjectCount);
    out[0].dictionary = "<< /Type /Font /Subtype /Type0 /BaseFont /" + baseName_ +
                        " /Encoding /Identity-H /DescendantFonts [" + ref(1) + "] /ToUnicode " + ref(4) +
                        " >>";
    std::string widths;
    for (auto it = advances_.begin(); it != advances_.end();) {
        widths += std::to_string(it->first) + " [";
        bool first = true;
        for (unsigned next = it->first; it != advances_.end() && it->first == next; ++it, ++next) {
            widths += (first ? "" : " ") + number(it->second * scale_);
            first = false;
        }
        widths += "] ";
    }
    out[1].dictionary =
        std::string("<< /Type /Font /Subtype ") + (font_.cff_ ? "/CIDFontType0" : "/CIDFontType2") +
        " /BaseFont /" + baseName_ +
        " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
        ref(2) + " /DW " + number(advances_.at(0) * scale_) + " /W [" + widths + "]" +
        (font_.cff_ ? "" : " /CIDToGIDMap /Identity") + " >>";
    out[2].dictionary = "<< /Type /FontDescriptor /FontName /" + baseName_ + " /Flags 4 /FontBBox [" +
                        std::to_string(bbox_[0]) + " " + std::to_string(bbox_[1]) + " " +
                        std::to_string(bbox_[2]) + " " + std::to_string(bbox_[3]) + "] /ItalicAngle " +
                        number(italicAngle_) + " /Ascent " + number(ascent_ * 1000) + " /Descent " +
                        number(descent_ * 1000) + " /CapHeight " + number(capHeight_ * 1000) + " /StemV 80 " +
                        (font_.cff_ ? "/FontFile3 " : "/FontFile2 ") + ref(3) + " >>";
    out[3].dictionary = fontFileDictionary_;
    out[3].streamData = fontFile_;

    std::string cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                       "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                       "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                       "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<std::pair<unsigned, std::u32string>> entries(unicode_.begin(), unicode_.end());
    for (size_t k = 0; k < entries.size(); k += 100) {
        const size_t n = std::min<size_t>(100, entries.size() - k);
        cmap += std::to_string(n) + " beginbfchar\n";
        for (size_t j = k; j < k + n; ++j)
            cmap += "<" + hex4(entries[j].first) + "> <" + utf16Hex(entries[j].second) + ">\n";
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    out[4].dictionary = "<< >>";
    out[4].streamData = cmap;
    return out;
}
