#include "SwitchControl.h"

#include "WispenBlue.h"

#include <QPainter>
#include <QPainterPath>

SwitchControl::SwitchControl(const QString& title, QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setAccessibleName(title);
    setFixedSize(trackWidth, trackHeight);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, [this] { emit requested(!isChecked()); });
}

void SwitchControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);

    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    // Off: the text colour faintly over the window, visible on light and dark.
    QColor off = palette().color(QPalette::WindowText);
    off.setAlphaF(0.22);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? wispenBlue() : off);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobSize = track.height() - 4;
    const qreal left = isChecked() ? track.right() - 2 - knobSize : track.left() + 2;
    const QRectF knob(left, track.top() + 2, knobSize, knobSize);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.6));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);

    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QColor ring = wispenBlue();
        ring.setAlphaF(0.5);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(ring, 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius + 0.5,
                                radius + 0.5);
    }
}
