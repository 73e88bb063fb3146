#include "ViewStyle.h"

#include "BrandIcon.h"
#include "ViewText.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

namespace {

const char* const secondaryProperty = "wispenSecondary";

// Text between the window and its text colour: readable on both the light and the
// dark palette (about 5:1 on either), clearly quieter than primary text.
QColor secondaryColour(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor back = palette.color(QPalette::Active, QPalette::Window);
    const qreal mix = 0.62;
    return QColor::fromRgbF(text.redF() * mix + back.redF() * (1 - mix),
                            text.greenF() * mix + back.greenF() * (1 - mix),
                            text.blueF() * mix + back.blueF() * (1 - mix));
}

void colour(QWidget* widget) {
    // Start from the inherited palette so a later palette change is followed.
    QPalette palette =
        widget->parentWidget() ? widget->parentWidget()->palette() : QApplication::palette(widget);
    const QColor secondary = secondaryColour(palette);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::ButtonText, QPalette::Text, QPalette::Link})
        palette.setColor(role, secondary);
    widget->setPalette(palette);
}

// Most interface fonts give every digit the same advance; where this one does
// not, the monospaced design keeps a running timer from changing width.
bool digitsAreTabular(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit)
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero)
            return false;
    return true;
}

} // namespace

namespace ViewStyle {

QFont font(int pixelSize, QFont::Weight weight, bool monospacedDigits) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    if (monospacedDigits && !digitsAreTabular(font))
        return monospaced(pixelSize);
    return font;
}

QFont monospaced(int pixelSize) {
    QFont font(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    return font;
}

QLabel* label(const QString& text, const QFont& font, bool secondary, const QString& identifier,
              QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    if (secondary)
        makeSecondary(label);
    if (!identifier.isEmpty())
        identify(label, identifier);
    return label;
}

QHBoxLayout* brandHeader(QWidget* parent, int iconSize, int spacing, int titleSize, int lineSpacing,
                         QLabel* subtitle) {
    auto* header = new QHBoxLayout;
    header->setSpacing(spacing);
    header->addWidget(new BrandIcon(iconSize, parent), 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(lineSpacing);
    titles->addWidget(
        label(ViewText::productName, font(titleSize, QFont::DemiBold), false, {}, parent));
    titles->addWidget(subtitle);
    header->addLayout(titles, 1);
    return header;
}

void makeSecondary(QWidget* widget) {
    widget->setProperty(secondaryProperty, true);
    colour(widget);
}

void refreshSecondary(QWidget* root) {
    for (QWidget* widget : root->findChildren<QWidget*>())
        if (widget->property(secondaryProperty).toBool())
            colour(widget);
}

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

QPalette darkPalette() {
    QPalette dark(QColor(50, 50, 52), QColor(30, 30, 32));
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(group, role, QColor(236, 236, 236));
    return dark;
}

void identify(QWidget* widget, const QString& identifier) {
    // Qt 6.4's AT-SPI bridge has no accessible id; the object name is what its
    // accessibility and test tools can find the widget by.
    widget->setObjectName(identifier);
}

} // namespace ViewStyle
