#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QPainter;

// Our own monochrome symbols ("mic.fill", "stop.fill", "mic", "checkmark",
// "exclamationmark.circle", "xmark", "doc.on.clipboard"), bundled as vector images
// and tinted like text, so they look the same on every desktop and stay crisp at
// any pixel ratio.
namespace Symbol {

// Draws the named symbol into `target`, filled with `colour`; an unknown name
// draws nothing.
void paint(QPainter& painter, const QRectF& target, const QString& name, const QColor& colour);

} // namespace Symbol

// A symbol shown as a widget of a fixed square size. Without a tint it takes the
// colour of text in its palette.
class SymbolImage final : public QWidget {
    Q_OBJECT
public:
    SymbolImage(const QString& name, int size, QWidget* parent = nullptr);

    QString symbol() const { return m_name; }
    void setSymbol(const QString& name);
    void setTint(const QColor& tint);
    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_name;
    int m_size;
    QColor m_tint;
};
