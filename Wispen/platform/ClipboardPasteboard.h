#pragma once

#include "Pasteboard.h"

#include <QObject>
#include <QPointer>

class QClipboard;

// The desktop clipboard (the CLIPBOARD selection, not the primary selection) through
// QClipboard. The change count rises on every change of ownership the clipboard
// reports (another client copied something, or took the clipboard from us) and on
// every write of ours. Needs a QGuiApplication.
class ClipboardPasteboard final : public QObject, public Pasteboard {
    Q_OBJECT
public:
    explicit ClipboardPasteboard(QClipboard* clipboard, QObject* parent = nullptr);

    qint64 changeCount() const override { return m_changeCount; }
    bool writeString(const QString& text) override;
    std::optional<QString> readString() const override;

private:
    QPointer<QClipboard> m_clipboard;
    qint64 m_changeCount = 0;
};
