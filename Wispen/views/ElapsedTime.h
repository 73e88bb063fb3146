#pragma once

#include <QString>

// Recorded time as the panel and the HUD show it: minutes unpadded and uncapped,
// seconds in two digits ("0:00", "1:15", "10:00").
namespace ElapsedTime {

inline QString text(int seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace ElapsedTime
