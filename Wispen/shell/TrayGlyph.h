#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

// The tray's microphone: an 18 × 20 line drawing in one colour, which the tray
// shows in its own text colour (red while recording, orange when something needs
// attention), sharp at the screen's pixel ratio.
namespace TrayGlyph {

inline constexpr int width = 18;
inline constexpr int height = 20;

// The glyph in `colour`, at `devicePixelRatio` physical pixels per point.
QImage image(const QColor& colour, qreal devicePixelRatio);

// The glyph at the ratios the screens use, for QSystemTrayIcon.
QIcon icon(const QColor& colour);

} // namespace TrayGlyph
