#include "ActionButton.h"

#include "Symbol.h"
#include "WispenBlue.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

// The large control size of the prominent button: 5 points of the label's own
// padding plus the bezel's.
constexpr int prominentVerticalMargin = 5 + 4;
constexpr int prominentHorizontalMargin = 12;
constexpr int prominentRadius = 7;

} // namespace

ActionButton::ActionButton(Style style, const QFont& font, QWidget* parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_layout(new QHBoxLayout(this))
    , m_symbol(new SymbolImage({}, QFontMetrics(font).height() - 1, this))
    , m_title(new QLabel(this))
    , m_hint(new QLabel(this)) {
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    if (m_style == Style::prominent) {
        m_layout->setContentsMargins(prominentHorizontalMargin, prominentVerticalMargin,
                                     prominentHorizontalMargin, prominentVerticalMargin);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        m_layout->setContentsMargins(0, 0, 0, 0);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    m_layout->setSpacing(6);
    m_symbol->hide();
    m_title->hide();
    m_hint->hide();
    for (QLabel* label : {m_title, m_hint}) {
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_title->setFont(font);
    m_symbol->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_layout->addWidget(m_symbol);
    m_layout->addWidget(m_title);
    if (m_style == Style::prominent)
        m_layout->addStretch(1);
    m_layout->addWidget(m_hint);
    colourContent();
}

void ActionButton::setTitle(const QString& title) {
    setText(title);
    m_title->setText(title);
    m_title->setVisible(!title.isEmpty());
    setAccessibleName(title);
    updateGeometry();
}

void ActionButton::setSymbol(const QString& name) {
    m_symbol->setSymbol(name);
    m_symbol->setVisible(!name.isEmpty());
    updateGeometry();
}

void ActionButton::setHint(const QString& hint, const QFont& font) {
    m_hint->setFont(font);
    m_hint->setText(hint);
    m_hint->setVisible(!hint.isEmpty());
    updateGeometry();
}

QString ActionButton::symbol() const {
    return m_symbol->isVisibleTo(this) ? m_symbol->symbol() : QString();
}

QString ActionButton::hint() const {
    return m_hint->isVisibleTo(this) ? m_hint->text() : QString();
}

QSize ActionButton::sizeHint() const {
    return m_layout->sizeHint();
}

void ActionButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        colourContent();
    QAbstractButton::changeEvent(event);
}

void ActionButton::setForeground(const QColor& colour) {
    m_foreground = colour;
    colourContent();
}

void ActionButton::colourContent() {
    const QColor colour = m_style == Style::prominent ? QColor(Qt::white) : m_foreground;
    if (!colour.isValid())
        return; // plain content inherits the button's palette
    QPalette content = palette();
    // Children of a button take its background role, so their text is ButtonText.
    content.setColor(QPalette::WindowText, colour);
    content.setColor(QPalette::ButtonText, colour);
    for (QWidget* child : {static_cast<QWidget*>(m_title), static_cast<QWidget*>(m_hint),
                           static_cast<QWidget*>(m_symbol)})
        child->setPalette(content);
}

void ActionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_style == Style::prominent) {
        QColor bezel = wispenBlue();
        if (isDown())
            bezel = bezel.darker(118);
        else if (underMouse())
            bezel = bezel.lighter(108);
        if (!isEnabled())
            painter.setOpacity(0.45);
        painter.setPen(Qt::NoPen);
        painter.setBrush(bezel);
        painter.drawRoundedRect(QRectF(rect()), prominentRadius, prominentRadius);
    } else if (isDown()) {
        // Plain buttons have no bezel; a press dims the content instead.
        QColor shade = palette().color(QPalette::WindowText);
        shade.setAlphaF(0.08);
        painter.fillRect(rect(), shade);
    }
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QColor ring = wispenBlue();
        ring.setAlphaF(0.55);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), prominentRadius - 1,
                                prominentRadius - 1);
    }
}
