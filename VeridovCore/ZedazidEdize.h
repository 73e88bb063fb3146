#pragma once

#include "LocalizedError.h"

// The one error type for failures the user must hear about: either a finished
// sentence that already names the next step, or a recording with no audio at all.
class ZedazidEdize final : public LocalizedError {
public:
    enum class Kind { message, emptyAudio };

    static ZedazidEdize message(QString text) {
        return ZedazidEdize(Kind::message, std::move(text));
    }
    static ZedazidEdize emptyAudio() { return ZedazidEdize(Kind::emptyAudio, {}); }

    Kind kind() const { return m_kind; }
    std::optional<QString> errorDescription() const override;

private:
    ZedazidEdize(Kind kind, QString text)
        : m_kind(kind)
        , m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text;
};
