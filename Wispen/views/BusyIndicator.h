#pragma once

#include <QBasicTimer>
#include <QWidget>

// Progress of unknown length: a small spinning wheel of spokes, or a linear bar
// whose segment sweeps across a faint track. It animates only while shown.
class BusyIndicator final : public QWidget {
    Q_OBJECT
public:
    enum class Shape { spinner, bar };

    explicit BusyIndicator(Shape shape, QWidget* parent = nullptr);

    Shape shape() const { return m_shape; }
    void setTint(const QColor& tint);
    QSize sizeHint() const override;

    static constexpr int spinnerSize = 16;
    static constexpr int barHeight = 4;

protected:
    void paintEvent(QPaintEvent*) override;
    void timerEvent(QTimerEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    Shape m_shape;
    QColor m_tint;
    QBasicTimer m_timer;
    int m_frame = 0;
};
