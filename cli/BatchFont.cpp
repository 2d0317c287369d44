#include "cli/BatchFont.h"

#include "FontLookup.h"
#include "NumberText.h"

#include <QFileInfo>

namespace {

[[noreturn]] void refuse(const QString& reason) {
    throw PlanRefused{reason};
}

// A text with every digit and the sign that {n}, {last} and {total} can print (letters and roman
// numerals are ASCII, which the standard font draws too).
std::string sample(const BatchOptions& options, const std::string& title) {
    return ExpandNumberText(options.stamp.format, options.stamp.digits, -1234567890, 1234567890, title, -1234567890);
}

bool usesTitle(const BatchOptions& options) {
    return options.stamp.format.find("{file}") != std::string::npos;
}

} // namespace

std::shared_ptr<const PageFont> ChooseBatchFont(const BatchOptions& options,
                                                const std::vector<BatchFile>& files) {
    // The texts that decide: the format with every digit, once for each name {file} prints.
    std::vector<std::pair<std::string, QString>> texts; // text, where it comes from
    if (usesTitle(options)) {
        for (const BatchFile& f : files)
            texts.emplace_back(sample(options, f.title.toStdString()),
                               QStringLiteral("the name of %1").arg(f.input));
    } else {
        texts.emplace_back(sample(options, std::string()), QStringLiteral("--format"));
    }
    const bool given = !options.font.isEmpty();
    if (!given &&
        std::all_of(texts.begin(), texts.end(), [](const auto& t) { return ToWinAnsi(t.first).has_value(); }))
        return nullptr;
    try {
        std::shared_ptr<EmbeddedFont> font;
        if (given) {
            font = OpenFontOption(options.font.toStdString());
        } else {
            std::u32string chars;
            for (const auto& t : texts)
                if (!ToWinAnsi(t.first))
                    chars += DecodeUtf8(t.first).value_or(std::u32string());
            font = FontCovering(chars);
        }
        std::vector<std::string> all;
        for (const auto& t : texts) {
            if (const std::optional<char32_t> c = font->firstMissing(t.first))
                refuse(QStringLiteral("the font %1 has no glyph for %2, which %3 holds")
                           .arg(QString::fromStdString(font->source()),
                                QString::fromStdString(DescribeCharacter(*c)), t.second));
            all.push_back(t.first);
        }
        // A damaged font shows here, not in the middle of the batch.
        font->subset(all, options.stamp.fontSize);
        return font;
    } catch (const FontError& e) {
        refuse(QString::fromStdString(e.what()));
    }
}

void SetFileText(StampOptions& stamp, const BatchOptions& options, const QString& title,
                 const std::shared_ptr<const PageFont>& font) {
    const std::string utf8 = title.toStdString();
    const std::optional<std::string> format = ToWinAnsi(options.stamp.format);
    const std::optional<std::string> winAnsiTitle = ToWinAnsi(utf8);
    if (font && (!options.font.isEmpty() || !format || (usesTitle(options) && !winAnsiTitle))) {
        stamp.font = font;
        stamp.format = options.stamp.format;
        stamp.fileTitle = utf8;
    } else {
        stamp.font = nullptr;
        stamp.format = format.value_or(std::string());
        stamp.fileTitle = winAnsiTitle.value_or(std::string());
    }
}
