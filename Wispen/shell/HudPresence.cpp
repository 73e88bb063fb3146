#include "HudPresence.h"

HudPresence::Decision HudPresence::update(bool active, bool ready) {
    ++m_generation;
    const bool linger = m_wasActive && !ready;
    m_wasActive = active;
    const Action action = active ? Action::show : (linger ? Action::linger : Action::hide);
    return {action, m_generation};
}

QPoint HudPresence::origin(const QRect& available, const QSize& size) {
    return {available.x() + (available.width() - size.width()) / 2,
            available.y() + available.height() - bottomMargin - size.height()};
}
