#include "FontLookup.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool fontExtension(const std::string& path) {
    const std::string l = lower(path);
    for (const char* e : {".ttf", ".otf", ".ttc", ".otc"})
        if (l.size() > 4 && l.compare(l.size() - 4, 4, e) == 0)
            return true;
    return false;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

FcConfig* config() {
    static FcConfig* c = [] {
        FcConfig* loaded = FcInitLoadConfigAndFonts();
        if (!loaded)
            throw FontError("fontconfig could not be started to find a font");
        return loaded;
    }();
    return c;
}

std::string text(FcPattern* p, const char* object, int n = 0) {
    FcChar8* s = nullptr;
    return FcPatternGetString(p, object, n, &s) == FcResultMatch && s ? reinterpret_cast<const char*>(s) : "";
}

std::shared_ptr<EmbeddedFont> openMatch(FcPattern* p) {
    int index = 0;
    FcPatternGetInteger(p, FC_INDEX, 0, &index);
    return EmbeddedFont::open(text(p, FC_FILE), unsigned(index & 0xFFFF));
}

} // namespace

std::shared_ptr<EmbeddedFont> OpenFontOption(const std::string& value) {
    if (value.empty())
        throw FontError("--font is empty");
    std::string path = value;
    unsigned index = 0;
    if (const size_t colon = value.rfind(':');
        colon != std::string::npos && colon + 1 < value.size() &&
        std::all_of(value.begin() + std::ptrdiff_t(colon) + 1, value.end(),
                    [](unsigned char c) { return std::isdigit(c); })) {
        const std::string before = value.substr(0, colon);
        if (fontExtension(before) || before.find('/') != std::string::npos || exists(before)) {
            if (value.size() - colon - 1 > 5)
                throw FontError("--font " + value + ": the index is too large");
            path = before;
            index = unsigned(std::stoul(value.substr(colon + 1)));
        }
    }
    if (path.find('/') != std::string::npos || fontExtension(path) || exists(path))
        return EmbeddedFont::open(path, index);

    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(value.c_str()));
    if (!pattern)
        throw FontError("--font \"" + value + "\" is neither a font file nor a font name");
    const std::string family = lower(text(pattern, FC_FAMILY));
    FcConfigSubstitute(config(), pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config(), pattern, &result);
    FcPatternDestroy(pattern);
    // fontconfig always offers some font; only one of the family asked for will do.
    bool named = false;
    for (int n = 0; match && !named; ++n) {
        const std::string f = text(match, FC_FAMILY, n);
        if (f.empty())
            break;
        named = lower(f) == family;
    }
    if (!named) {
        if (match)
            FcPatternDestroy(match);
        throw FontError("no installed font is named \"" + value + "\" (fc-list lists those there are)");
    }
    try {
        std::shared_ptr<EmbeddedFont> font = openMatch(match);
        FcPatternDestroy(match);
        return font;
    } catch (...) {
        FcPatternDestroy(match);
        throw;
    }
}

std::shared_ptr<EmbeddedFont> FontCovering(const std::u32string& chars) {
    FcCharSet* needed = FcCharSetCreate();
    for (char32_t c : chars)
        if (c > ' ')
            FcCharSetAddChar(needed, c);
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcPatternAddCharSet(pattern, FC_CHARSET, needed);
    FcConfigSubstitute(config(), pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* sorted = FcFontSort(config(), pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    std::shared_ptr<EmbeddedFont> chosen;
    std::string failure;
    for (int k = 0; sorted && k < sorted->nfont && !chosen; ++k) {
        FcPattern* p = sorted->fonts[k];
        FcCharSet* has = nullptr;
        const std::string format = text(p, FC_FONTFORMAT);
        if (format != "TrueType" && format != "CFF")
            continue;
        if (FcPatternGetCharSet(p, FC_CHARSET, 0, &has) != FcResultMatch || !FcCharSetIsSubset(needed, has))
            continue;
        try {
            chosen = openMatch(p);
        } catch (const FontError& e) {
            if (failure.empty())
                failure = e.what();
        }
    }
    if (!chosen) {
        // Name the first character no font has, or say that none has them all.
        std::string why = "no installed font has all of the text's characters";
        for (char32_t c : chars) {
            bool anywhere = false;
            for (int k = 0; sorted && k < sorted->nfont && !anywhere; ++k) {
                FcCharSet* has = nullptr;
                anywhere = FcPatternGetCharSet(sorted->fonts[k], FC_CHARSET, 0, &has) == FcResultMatch &&
                           FcCharSetHasChar(has, c);
            }
            if (!anywhere && c > ' ') {
                why = "no installed font has " + DescribeCharacter(c);
                break;
            }
        }
        if (!failure.empty())
            why += " (" + failure + ")";
        if (sorted)
            FcFontSetDestroy(sorted);
        FcCharSetDestroy(needed);
        throw FontError(why + ": name one with --font");
    }
    FcFontSetDestroy(sorted);
    FcCharSetDestroy(needed);
    return chosen;
}
