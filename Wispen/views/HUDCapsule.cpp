#include "HUDCapsule.h"

#include <QPainter>
#include <QPainterPath>

HUDCapsule::HUDCapsule(QWidget* parent)
    : QWidget(parent) {}

void HUDCapsule::setTranslucent(bool translucent) {
    if (translucent == m_translucent)
        return;
    m_translucent = translucent;
    update();
}

void HUDCapsule::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor material = palette().color(QPalette::Window);
    if (m_translucent) {
        material.setAlphaF(materialOpacity);
    } else {
        painter.fillRect(rect(), material);
        // The capsule still shows as a faint rim on the opaque window.
        material = material.lightness() > 128 ? material.darker(103) : material.lighter(112);
    }
    QColor hairline = palette().color(QPalette::WindowText);
    hairline.setAlphaF(0.16);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = shape.height() / 2;
    painter.setPen(QPen(hairline, 1));
    painter.setBrush(material);
    painter.drawRoundedRect(shape, radius, radius);
}
