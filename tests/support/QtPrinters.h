#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Lets GoogleTest print Qt texts readably in failure messages (include before
// comparing them), also inside std::optional. Long texts are cut so a failure stays
// readable.
template <typename Text> void printCut(const Text& text, const char* unit, std::ostream* out) {
    *out << '"' << text.left(200).toStdString() << '"';
    if (text.size() > 200)
        *out << "... (" << text.size() << unit << ')';
}

inline void PrintTo(const QString& text, std::ostream* out) {
    printCut(text, " UTF-16 units", out);
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    printCut(bytes, " bytes", out);
}
