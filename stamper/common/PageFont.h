#pragma once
// A font embedded in the copy for text the standard Helvetica can't draw. The engine sees only this
// face of it: the font itself (HarfBuzz's shaping and subsetting, fontconfig's choice) lives in
// stamper/font/, linked only by the programs that print such text, so that the numbering tool starts
// as quickly as ever.

#include "NumberText.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The glyphs one file's texts need, and the PDF objects that carry them.
// Its metrics are those of the texts it was made for (UTF-8), at size 1.
class FontSubset : public FontMetrics {
public:
    virtual ~FontSubset() = default;

    // Text-showing operators (after "Tf") that draw UTF-8 `text`, one of the texts the subset was
    // made for; throws std::logic_error for any other.
    virtual const std::string& show(const std::string& text) const = 0;

    // The font's objects: the first is the font the pages name (a Type0 font); the others are the
    // ones it refers to. `numbers[k]` is the object number object k gets, and the dictionaries come
    // back with their references filled in. Objects from kFirstStream on are streams, whose
    // dictionary has no /Length and whose data is as its /Filter says.
    struct Object {
        std::string dictionary;
        std::optional<std::string> streamData;
    };
    static constexpr int kObjectCount = 5;
    static constexpr int kFirstStream = 3;
    virtual std::vector<Object> objects(const std::vector<int>& numbers) const = 0;
};

class PageFont {
public:
    virtual ~PageFont() = default;
    // The subset for one file whose pages print `texts` (UTF-8) at `fontSize` points. Throws
    // std::runtime_error with a one-line message when the font can't give it (a glyph missing, a
    // table it can't subset).
    virtual std::unique_ptr<FontSubset> subset(const std::vector<std::string>& texts,
                                               double fontSize) const = 0;
};
