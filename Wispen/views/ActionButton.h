#pragma once

#include <QAbstractButton>

class QHBoxLayout;
class QLabel;
class SymbolImage;

// A button laid out from real child widgets (an optional symbol, the title, an
// optional trailing hint), so its texts measure and render like every other label.
// Prominent: a rounded bezel of the brand blue with white content, stretched to
// the width it is given. Plain: no bezel, content in the button's own colour.
class ActionButton final : public QAbstractButton {
    Q_OBJECT
public:
    enum class Style { prominent, plain };

    ActionButton(Style style, const QFont& font, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    // An empty name removes the symbol.
    void setSymbol(const QString& name);
    // An empty hint removes it.
    void setHint(const QString& hint, const QFont& font);

    // The colour of a plain button's content; by default its palette's text.
    void setForeground(const QColor& colour);

    QString symbol() const;
    QString hint() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

private:
    void colourContent();

    Style m_style;
    QHBoxLayout* m_layout;
    SymbolImage* m_symbol;
    QLabel* m_title;
    QLabel* m_hint;
    QColor m_foreground;
};
