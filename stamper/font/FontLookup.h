#pragma once
// Which font draws the text: the one `--font` names (a file, FILE:INDEX for a face of a collection,
// or an installed font's name), or fontconfig's choice of an installed font that has every
// character. fontconfig is loaded only here, when such text is printed. Each throws FontError.

#include "EmbeddedFont.h"

#include <memory>
#include <string>

// `value` names a file when it has a "/" or ends in a font file's extension (before any ":INDEX"),
// or when a file of that name exists; else it is an installed font's name ("DejaVu Sans:bold").
std::shared_ptr<EmbeddedFont> OpenFontOption(const std::string& value);

// The installed font fontconfig likes best of those that have every character of `chars`.
std::shared_ptr<EmbeddedFont> FontCovering(const std::u32string& chars);
