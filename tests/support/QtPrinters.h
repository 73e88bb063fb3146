#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <ostream>

// Lets GoogleTest print Qt values readably in failure messages (include before
// comparing them). Long texts are cut so a failure stays readable.
inline void PrintTo(const QString& text, std::ostream* out) {
    constexpr qsizetype shown = 200;
    *out << '"' << text.left(shown).toStdString() << '"';
    if (text.size() > shown)
        *out << "... (" << text.size() << " UTF-16 units)";
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    constexpr qsizetype shown = 200;
    *out << '"' << bytes.left(shown).toStdString() << '"';
    if (bytes.size() > shown)
        *out << "... (" << bytes.size() << " bytes)";
}

inline void PrintTo(const QUrl& url, std::ostream* out) {
    *out << url.toString(QUrl::FullyEncoded).toStdString();
}

inline void PrintTo(const std::optional<QString>& text, std::ostream* out) {
    if (text)
        PrintTo(*text, out);
    else
        *out << "(none)";
}
