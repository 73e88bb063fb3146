#pragma once

#include <QStringList>

// The application that owns the active window: its process and the names it goes by
// (application id and window class), any of which may be empty.
struct FrontmostApplication {
    qint64 pid = 0;
    QStringList identifiers;
};
