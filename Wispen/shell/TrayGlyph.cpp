#include "TrayGlyph.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <set>

namespace {

constexpr qreal lineWidth = 1.45;

// The drawing is laid out with y pointing up from the glyph's bottom edge.
QPointF at(qreal x, qreal y) {
    return {x, TrayGlyph::height - y};
}

QRectF box(qreal x, qreal y, qreal w, qreal h) {
    return QRectF(at(x, y + h), QSizeF(w, h));
}

} // namespace

QImage TrayGlyph::image(const QColor& colour, qreal devicePixelRatio) {
    QImage image(QSize(qCeil(width * devicePixelRatio), qCeil(height * devicePixelRatio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The capsule.
    painter.setPen(QPen(colour, lineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box(5.2, 6.0, 7.6, 11.4), 3.8, 3.8);

    // The stand: the cradle, the stem and the foot.
    QPainterPath stand;
    stand.moveTo(at(2.4, 10.0));
    stand.lineTo(at(2.4, 8.0));
    stand.cubicTo(at(2.4, -0.8), at(15.6, -0.8), at(15.6, 8.0));
    stand.lineTo(at(15.6, 10.0));
    stand.moveTo(at(9.0, 3.2));
    stand.lineTo(at(9.0, 1.0));
    stand.moveTo(at(6.0, 1.0));
    stand.lineTo(at(12.0, 1.0));
    painter.setPen(QPen(colour, lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(stand);

    // Two slots in the capsule.
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(box(7.0, 11.2, 1.2, 2.6), 0.6, 0.6);
    painter.drawRoundedRect(box(9.8, 11.2, 1.2, 2.6), 0.6, 0.6);
    return image;
}

QIcon TrayGlyph::icon(const QColor& colour) {
    std::set<qreal> ratios{1.0, 2.0};
    for (const QScreen* screen : QGuiApplication::screens())
        ratios.insert(screen->devicePixelRatio());
    QIcon icon;
    for (const qreal ratio : ratios)
        icon.addPixmap(QPixmap::fromImage(image(colour, ratio)));
    return icon;
}
