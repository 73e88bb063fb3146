#pragma once

#include <QAbstractButton>

// An on/off switch: a track that is the brand blue when on, with a round knob.
// It never changes its own state: a click or Space asks for the other state with
// `requested`, and the owner shows what the model then holds with setChecked().
// Accessible as a checkable button named after its row.
class SwitchControl final : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchControl(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {trackWidth, trackHeight}; }

    static constexpr int trackWidth = 38;
    static constexpr int trackHeight = 22;

signals:
    void requested(bool on);

protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override;
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};
