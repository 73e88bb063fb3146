#pragma once

#include <QWidget>

// The microphone's input level as a bar on a fixed 54 × 4 track: the track in the
// brand blue at 20 %, the level in opaque brand blue, never narrower than a 3-point
// stub so silence still shows. A new level repaints this widget alone.
class LevelMeter final : public QWidget {
    Q_OBJECT
public:
    static constexpr int trackWidth = 54;
    static constexpr int trackHeight = 4;
    static constexpr qreal stubWidth = 3;

    explicit LevelMeter(QWidget* parent = nullptr);

    void setLevel(double level);
    double level() const { return m_level; }
    // Width of the level bar for a level on a track of the given width.
    static qreal fillWidth(double level, qreal width = trackWidth);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double m_level = 0;
};
