#include "Symbol.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>
#include <memory>

namespace {

// One renderer per symbol and colour: the colour is written into the vector image
// itself, so the symbol is drawn as shapes at every pixel ratio, never as a bitmap.
QSvgRenderer* rendererFor(const QString& name, const QColor& colour) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    const QString key = name + colour.name();
    auto found = renderers.find(key);
    if (found == renderers.end()) {
        QFile file(QStringLiteral(":/wispen/symbols/%1.svg").arg(name));
        std::shared_ptr<QSvgRenderer> renderer;
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray tint = colour.name().toLatin1();
            QByteArray image = file.readAll().replace("#000", tint);
            image.replace("<svg ", "<svg fill=\"" + tint + "\" ");
            renderer = std::make_shared<QSvgRenderer>(image);
        }
        found = renderers.insert(key, renderer && renderer->isValid() ? renderer : nullptr);
    }
    return found->get();
}

} // namespace

namespace Symbol {

void paint(QPainter& painter, const QRectF& target, const QString& name, const QColor& colour) {
    QSvgRenderer* renderer = rendererFor(name, colour);
    if (!renderer)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * colour.alphaF());
    renderer->render(&painter, target);
    painter.restore();
}

} // namespace Symbol

SymbolImage::SymbolImage(const QString& name, int size, QWidget* parent)
    : QWidget(parent)
    , m_name(name)
    , m_size(size) {
    setFixedSize(size, size);
}

void SymbolImage::setSymbol(const QString& name) {
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void SymbolImage::setTint(const QColor& tint) {
    m_tint = tint;
    update();
}

void SymbolImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor colour = m_tint.isValid() ? m_tint : palette().color(foregroundRole());
    if (!isEnabled())
        colour.setAlphaF(colour.alphaF() * 0.45);
    Symbol::paint(painter, rect(), m_name, colour);
}
