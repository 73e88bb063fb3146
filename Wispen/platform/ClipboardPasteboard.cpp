#include "ClipboardPasteboard.h"

#include <QClipboard>
#include <QMimeData>

ClipboardPasteboard::ClipboardPasteboard(QClipboard* clipboard, QObject* parent)
    : QObject(parent)
    , m_clipboard(clipboard) {
    if (!m_clipboard)
        return;
    connect(m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++m_changeCount;
    });
}

bool ClipboardPasteboard::writeString(const QString& text) {
    // Counted before the write: a change signal the write itself raises then only
    // adds to a count that has already moved.
    ++m_changeCount;
    if (!m_clipboard)
        return false;
    m_clipboard->setText(text, QClipboard::Clipboard);
    return true;
}

std::optional<QString> ClipboardPasteboard::readString() const {
    if (!m_clipboard)
        return std::nullopt;
    const QMimeData* data = m_clipboard->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}
