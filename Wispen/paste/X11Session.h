#pragma once

#include "FrontmostApplication.h"
#include "KeyboardGrab.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>

#include <xcb/xcb.h>

#include <optional>

// The X server as the paste target needs it: which application owns the active
// window, which modifier keys are down, whether a key grab holds the keyboard, and
// synthetic keystrokes through XTest. Works over the application's own X connection;
// without one every query fails.
class X11Session final : private QAbstractNativeEventFilter {
public:
    // How long after a key grab ends applications are given to take their focus
    // back; a loaded machine needs a few hundred milliseconds.
    static constexpr int focusReturnMs = 300;

    X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    // False without an X connection or without the XTEST extension.
    bool canSynthesiseKeys() const;

    // Nothing when no window is active or it names no process (_NET_WM_PID).
    std::optional<FrontmostApplication> frontmostApplication() const;

    // True while Shift, Control, Alt (Mod1) or Super (Mod4) is down, or when the
    // pointer query fails; Caps Lock and Num Lock do not count.
    bool modifierHeld() const;

    // Posts Control+V (press and release) and returns without waiting for the
    // receiving application; false when the keyboard has no Control key or the server
    // refused the events. Without a V in the keymap, the key of V on a Latin keyboard.
    bool postPasteKeystroke() const;

    // Posts a space (press and release); false when the keyboard has no space key or
    // the server refused the events.
    bool postSpaceKeystroke() const;

    // Follows the root window's focus events from construction on: a grab on the root
    // window takes the focus there (mode Grab) and gives it back (mode Ungrab).
    // `none` without an X connection.
    KeyboardGrab keyboardGrab() const;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void watchRootFocus();
    xcb_atom_t atom(const char* name) const;
    std::optional<xcb_window_t> activeWindow() const;

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t activeWindowAtom_ = XCB_ATOM_NONE;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
    xcb_atom_t applicationIdAtom_ = XCB_ATOM_NONE;
    bool m_grabHeld = false;
    QElapsedTimer m_sinceGrabEnded;
};
