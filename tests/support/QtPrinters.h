#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <ostream>

// Lets GoogleTest print Qt texts readably in failure messages (include before
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

inline void PrintTo(const std::optional<QString>& text, std::ostream* out) {
    if (text)
        PrintTo(*text, out);
    else
        *out << "(none)";
}
