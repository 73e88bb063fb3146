#pragma once

#include "Pasteboard.h"

// A clipboard in memory that can refuse or garble writes.
class MemoryPasteboard final : public Pasteboard {
public:
    qint64 changeCount() const override { return count; }
    bool writeString(const QString& text) override {
        ++count;
        ++writes;
        if (refuseWrites)
            return false;
        contents = garbleWrites ? text + QStringLiteral("?") : text;
        return true;
    }
    std::optional<QString> readString() const override { return contents; }

    // Another application copies something.
    void copyElsewhere(const QString& text) {
        ++count;
        contents = text;
    }

    qint64 count = 7;
    std::optional<QString> contents = QStringLiteral("the user's text");
    int writes = 0;
    bool refuseWrites = false;
    bool garbleWrites = false;
};
