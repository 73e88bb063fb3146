#include "ZedazidEdize.h"

std::optional<QString> ZedazidEdize::errorDescription() const {
    switch (m_kind) {
    case Kind::message:
        return m_text;
    case Kind::emptyAudio:
        return QStringLiteral("That recording was too short. Try again.");
    }
    return m_text;
}
