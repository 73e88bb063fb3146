#pragma once

#include <QStringList>

class AppDelegate;

// Renders one surface of the application (the panel, the settings window or the
// recording HUD) in a sample state, light or dark, to a PNG file, prints one line
// and ends the event loop with a status: a way to look at the views without
// speaking or pressing keys, on a machine without a display too.
namespace PreviewMode {

// Everything the preview ends with.
enum Status {
    written = 0,
    missingTarget = 2, // the delegate is gone, --capture has no path, or no window
    captureFailed = 3,
    writeFailed = 4,
    hudClipped = 5,
};

// How long the surface has to render before it is captured.
inline constexpr int renderDelayMs = 700;

// Puts the delegate's controller in the sample state the arguments name, shows
// the surface and captures it after the render delay; the event loop then ends
// with one of the statuses above.
void run(AppDelegate& delegate, const QStringList& arguments);

} // namespace PreviewMode
