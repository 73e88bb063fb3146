#include "BusyIndicator.h"

#include <QPainter>
#include <QTimerEvent>
#include <cmath>

namespace {

constexpr int spokes = 8;
constexpr int spinnerFrameMs = 90;
constexpr int barFrameMs = 33;
constexpr int barFrames = 45; // one sweep in about 1.5 s

} // namespace

BusyIndicator::BusyIndicator(Shape shape, QWidget* parent)
    : QWidget(parent)
    , m_shape(shape) {
    if (shape == Shape::spinner) {
        setFixedSize(spinnerSize, spinnerSize);
    } else {
        setFixedHeight(barHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
}

void BusyIndicator::setTint(const QColor& tint) {
    m_tint = tint;
    update();
}

QSize BusyIndicator::sizeHint() const {
    return m_shape == Shape::spinner ? QSize(spinnerSize, spinnerSize) : QSize(100, barHeight);
}

void BusyIndicator::showEvent(QShowEvent*) {
    m_timer.start(m_shape == Shape::spinner ? spinnerFrameMs : barFrameMs, this);
}

void BusyIndicator::hideEvent(QHideEvent*) {
    m_timer.stop();
}

void BusyIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId())
        return;
    m_frame = (m_frame + 1) % (m_shape == Shape::spinner ? spokes : barFrames);
    update();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = m_tint.isValid() ? m_tint : palette().color(QPalette::WindowText);
    if (m_shape == Shape::spinner) {
        const QPointF centre = QRectF(rect()).center();
        const qreal outer = width() / 2.0 - 1, inner = outer * 0.45;
        for (int spoke = 0; spoke < spokes; ++spoke) {
            // The newest spoke is darkest; the others fade behind it.
            const int age = (m_frame - spoke + spokes) % spokes;
            QColor shade = colour;
            shade.setAlphaF(colour.alphaF() * (1.0 - age * 0.1));
            painter.setPen(QPen(shade, 1.8, Qt::SolidLine, Qt::RoundCap));
            const qreal angle = spoke * 2 * M_PI / spokes;
            const QPointF direction(std::sin(angle), -std::cos(angle));
            painter.drawLine(centre + direction * inner, centre + direction * outer);
        }
        return;
    }
    const QRectF track(rect());
    const qreal radius = track.height() / 2;
    QColor faint = colour;
    faint.setAlphaF(0.2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(faint);
    painter.drawRoundedRect(track, radius, radius);
    const qreal segment = track.width() * 0.3;
    const qreal left = -segment + (track.width() + segment) * m_frame / barFrames;
    painter.setClipRect(track);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(left, track.top(), segment, track.height()), radius, radius);
}
