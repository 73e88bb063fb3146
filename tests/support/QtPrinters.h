#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Lets GoogleTest print Qt texts readably in failure messages (include before
// comparing them), also inside std::optional. Long texts are cut so a failure stays
// readable.
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.left(200).toStdString() << '"';
    if (bytes.size() > 200)
        *out << "... (" << bytes.size() << " bytes)";
}

inline void PrintTo(const QString& text, std::ostream* out) {
    PrintTo(text.toUtf8(), out);
}
