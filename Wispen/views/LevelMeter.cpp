#include "LevelMeter.h"

#include "ViewText.h"
#include "WispenBlue.h"

#include <QPainter>
#include <algorithm>

LevelMeter::LevelMeter(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(trackWidth, trackHeight);
    setAccessibleName(ViewText::microphoneLevel);
    // Painted over its whole rectangle by the parent first: the meter's own repaint
    // must not need the HUD's.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

qreal LevelMeter::fillWidth(double level, qreal width) {
    return std::max(level * width, stubWidth);
}

void LevelMeter::setLevel(double level) {
    if (level == m_level)
        return;
    m_level = level;
    update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(rect());
    const qreal radius = track.height() / 2;
    QColor faint = wispenBlue();
    faint.setAlphaF(0.2);
    painter.setBrush(faint);
    painter.drawRoundedRect(track, radius, radius);
    painter.setBrush(wispenBlue());
    painter.drawRoundedRect(
        QRectF(track.topLeft(), QSizeF(fillWidth(m_level, track.width()), track.height())), radius,
        radius);
}
