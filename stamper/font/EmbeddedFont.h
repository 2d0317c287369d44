#pragma once
// A TrueType or OpenType font read once (mapped, not copied) and made into per-file subsets: the
// text shaped by HarfBuzz (right-to-left runs in their visual order, letters joined, marks placed),
// the glyphs it uses kept under their own glyph ids by hb-subset, and the PDF objects of a composite
// font (Type0, Identity-H) with the widths and a /ToUnicode map back to the logical text.
// Shared by the files numbered side by side: every HarfBuzz object it holds is immutable.

#include "PageFont.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct hb_blob_t;
struct hb_face_t;
struct hb_font_t;

// A font that can't be used, in one line.
struct FontError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class EmbeddedFont : public PageFont {
public:
    // Face `index` of the font file at `path` (a collection holds several). Throws FontError.
    static std::shared_ptr<EmbeddedFont> open(const std::string& path, unsigned index = 0);
    // The same from bytes in memory; `name` stands for the file in messages.
    static std::shared_ptr<EmbeddedFont> fromBytes(std::string bytes, unsigned index,
                                                   const std::string& name);
    ~EmbeddedFont() override;
    EmbeddedFont(const EmbeddedFont&) = delete;
    EmbeddedFont& operator=(const EmbeddedFont&) = delete;

    // The first character of UTF-8 `text` the font has no glyph for (characters that are drawn as
    // nothing, such as U+200D, need none); nothing when it has them all or `text` is no UTF-8.
    std::optional<char32_t> firstMissing(std::string_view text) const;
    const std::string& postScriptName() const { return psName_; }
    const std::string& source() const { return source_; }

    std::unique_ptr<FontSubset> subset(const std::vector<std::string>& texts, double fontSize) const override;

private:
    EmbeddedFont(hb_blob_t* blob, unsigned index, std::string source);
    friend class EmbeddedSubset;

    hb_blob_t* blob_ = nullptr;
    hb_face_t* face_ = nullptr;
    hb_font_t* font_ = nullptr;
    std::string source_; // the file, for messages
    std::string psName_; // PDF name characters only
    unsigned upem_ = 1000;
    bool cff_ = false; // CFF outlines (FontFile3 /OpenType) rather than TrueType's (FontFile2)
};

// UTF-8 to code points; nothing for bytes that are no UTF-8.
std::optional<std::u32string> DecodeUtf8(std::string_view text);
// The character as "U+0416 (Ж)".
std::string DescribeCharacter(char32_t c);
