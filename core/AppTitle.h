#pragma once
#include <QString>

inline const QString kProductName = QStringLiteral("Numbrel");

// Shortens the product name at its last blank, at least once, until it has at most 40 characters.
// A name without a blank is kept whole.
QString ShortenedTitle(const QString& productName);
void SetApplicationTitle();
// The caption of every box and prompt that names none of its own.
QString ApplicationTitle();
