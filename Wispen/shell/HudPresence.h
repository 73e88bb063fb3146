#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// When and where the recording HUD shows: on screen while a dictation is under
// way, kept for a moment after it ended with something to say (not "Ready"), and
// hidden at once by any later change. Each update advances a generation, so a
// delayed hide that finds a newer generation does nothing.
class HudPresence {
public:
    enum class Action { show, linger, hide };
    struct Decision {
        Action action;
        qint64 generation;
    };

    // How long the HUD keeps showing the outcome of a dictation.
    static constexpr int lingerMs = 2500;
    // The gap between the HUD's bottom edge and the bottom of the screen's work area.
    static constexpr int bottomMargin = 28;

    // One update of the model: whether its phase is active (asking for the
    // microphone, recording or transcribing) and whether its status is "Ready".
    Decision update(bool active, bool ready);

    // Whether a delayed hide scheduled at `generation` still applies.
    bool current(qint64 generation) const { return generation == m_generation; }

    // The HUD's top-left corner: centred on the work area, its bottom edge the
    // margin above the work area's bottom.
    static QPoint origin(const QRect& available, const QSize& size);

private:
    qint64 m_generation = 0;
    bool m_wasActive = false;
};
