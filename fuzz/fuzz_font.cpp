// libFuzzer target over the embedded font: any bytes as a font file, loaded, shaped in several
// scripts, subset and made into PDF objects. A FontError is the expected answer to damage; a crash,
// a sanitizer report or any other exception is a fault.
#include "EmbeddedFont.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        // The first byte picks the face of a collection.
        const unsigned index = size > 0 ? data[0] % 4 : 0;
        auto font =
            EmbeddedFont::fromBytes(std::string(reinterpret_cast<const char*>(data), size), index, "fuzz");
        const std::vector<std::string> texts = {
            "Page 12 of 30", "Страница 3 из 30",   "صفحة ٣ من 30", "עמוד 3", "第3页",
            "पृष्ठ 3",         "e\xcc\x81\xcc\xa3 3"};
        std::vector<std::string> covered;
        for (const std::string& t : texts)
            if (!font->firstMissing(t))
                covered.push_back(t);
        if (covered.empty())
            return 0;
        auto subset = font->subset(covered, 10);
        for (const std::string& t : covered)
            if (subset->show(t).empty() || !std::isfinite(subset->advance(t)))
                std::abort();
        const auto objects = subset->objects({10, 11, 12, 13, 14});
        if (objects.size() != size_t(FontSubset::kObjectCount) || !objects[3].streamData)
            std::abort();
    } catch (const FontError&) {
    }
    return 0;
}
