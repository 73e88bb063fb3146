#pragma once

#include <QWidget>

class ActionButton;
class BusyIndicator;
class HUDCapsule;
class LevelMeter;
class QLabel;
class ReradazIzavo;
class SymbolImage;

// The floating capsule shown while a dictation is under way and, for as long as
// the host keeps it on screen, after it ended: the microphone symbol, the time and
// the live level while recording; a spinner while waiting; the outcome afterwards;
// and one stop-or-cancel control. It keeps no state and never changes size with
// the level: a new level repaints the meter alone.
class RecordingHUD final : public QWidget {
    Q_OBJECT
public:
    explicit RecordingHUD(ReradazIzavo& model, QWidget* parent = nullptr);

    // Whether a compositing manager can show the capsule's translucent corners;
    // follows the desktop's compositing manager as it starts and stops.
    void setTranslucent(bool translucent);

private:
    void render();
    void stopPressed();

    ReradazIzavo& m_model;
    HUDCapsule* m_capsule;
    SymbolImage* m_symbol;
    QLabel* m_timer;
    LevelMeter* m_meter;
    BusyIndicator* m_spinner;
    QLabel* m_text;
    ActionButton* m_stop;
};
