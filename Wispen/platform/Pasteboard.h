#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// The clipboard a transcript is delivered through. Its change count tells the
// controller whether anyone wrote to the clipboard since a given moment, so a text
// the user copied meanwhile is never overwritten.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Rises whenever the clipboard changes hands and whenever we write to it; never fails.
    virtual qint64 changeCount() const = 0;
    // Replaces the clipboard's contents with exactly this plain text; false when the
    // clipboard refused the write (the caller reads back to be sure either way).
    virtual bool writeString(const QString& text) = 0;
    // The plain text on the clipboard; absent when there is none or it cannot be read.
    virtual std::optional<QString> readString() const = 0;
};
