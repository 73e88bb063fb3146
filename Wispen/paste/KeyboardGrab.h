#pragma once

// Where the keyboard stands against key grabs on the root window, such as our own
// shortcut while it is held. While a grab holds the keyboard, X takes the focus from
// the focused window, and some toolkits (GTK) report their field unfocused until the
// release, after which they take the focus back within a moment.
enum class KeyboardGrab {
    none,         // no grab, or the last one ended long enough ago
    held,         // a grab holds the keyboard now
    justReleased, // one ended moments ago; the focus may still be on its way back
};
