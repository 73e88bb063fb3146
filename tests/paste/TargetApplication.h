#pragma once

#include <QHash>
#include <QPoint>
#include <QProcess>

#include "WaitUntil.h"

// Runs xdotool with `arguments` and waits for it; false when it failed.
bool xdotool(const QStringList& arguments);

// The text of the field named `name` in process `pid`, read through AT-SPI by a
// separate process while our event loop keeps running; nothing when unreadable.
std::optional<QString> readFieldText(qint64 pid, const QString& name);

// One of our target applications (paste_qt_fields, gtk_fields.py), started for a test
// and ended with it. It announces its window and the centres of its named fields on
// standard output.
class TargetApplication {
public:
    TargetApplication(const QString& program, const QStringList& arguments);
    ~TargetApplication();

    bool isReady() const { return ready_; }
    qint64 pid() const { return process_.processId(); }
    // Activates the window and clicks into the named field.
    bool focus(const QString& field) const;

private:
    QProcess process_;
    QString window_;
    QHash<QString, QPoint> centres_;
    bool ready_ = false;
};
