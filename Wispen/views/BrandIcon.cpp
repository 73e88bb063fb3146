#include "BrandIcon.h"

#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

namespace {

const QString brandImage = QStringLiteral(":/wispen/wispen-rezuraz.svg");

} // namespace

BrandIcon::BrandIcon(int size, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(size, size);
    // A plain widget with no name reports no image to AT-SPI; keep it that way.
    setAccessibleName({});
    setFocusPolicy(Qt::NoFocus);
}

QIcon BrandIcon::icon() {
    QIcon icon;
    QSvgRenderer renderer(brandImage);
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void BrandIcon::paintEvent(QPaintEvent*) {
    static QSvgRenderer renderer(brandImage);
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(rect()));
}
