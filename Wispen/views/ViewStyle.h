#pragma once

#include <QFont>
#include <QPalette>
#include <QString>

class QHBoxLayout;
class QLabel;
class QWidget;

// The few typographic and colour rules every view shares. Sizes are device
// independent pixels, so a layout measures the same at every pixel ratio.
namespace ViewStyle {

// The application font at a pixel size and weight; `monospacedDigits` gives every
// digit the same advance so a running timer never changes width.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal, bool monospacedDigits = false);

// The application's monospaced design at a pixel size.
QFont monospaced(int pixelSize);

// A label in the given font; `identifier` becomes its object name and accessible id.
QLabel* label(const QString& text, const QFont& font, bool secondary,
              const QString& identifier = {}, QWidget* parent = nullptr);

// The brand header: the icon, then the product name in a semibold title font over a
// subtitle line.
QHBoxLayout* brandHeader(QWidget* parent, int iconSize, int spacing, int titleSize, int lineSpacing,
                         QLabel* subtitle);

// Marks a widget as secondary text (or secondary foreground) and colours it.
void makeSecondary(QWidget* widget);
// Recolours every secondary descendant after the palette changed.
void refreshSecondary(QWidget* root);

// The two palettes the views are drawn for: the style's standard light one, and a
// dark one with the same roles.
QPalette lightPalette();
QPalette darkPalette();

// Names a control by its accessibility identifier.
void identify(QWidget* widget, const QString& identifier);

} // namespace ViewStyle
