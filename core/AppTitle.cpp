#include "core/AppTitle.h"

namespace {
QString& title() {
    static QString t = kProductName;
    return t;
}
} // namespace

QString ShortenedTitle(const QString& productName) {
    QString t = productName;
    do {
        const qsizetype blank = t.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break; // nothing left to cut: keep what we have
        t.truncate(blank);
    } while (t.size() > 40);
    return t;
}

void SetApplicationTitle() {
    title() = ShortenedTitle(kProductName);
}

QString ApplicationTitle() {
    return title();
}
