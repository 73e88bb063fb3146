#pragma once

#include "AccessibleElement.h"
#include "FrontmostApplication.h"
#include "KeyboardGrab.h"
#include "TextSelection.h"

#include <QString>

#include <optional>

// What the paste target needs from the desktop: the accessibility switch, the active
// application, reads of another application's focused element, the keyboard state,
// and a synthetic paste keystroke. One Linux implementation (AT-SPI and X11); the
// tests substitute their own.
class FieldAccess {
public:
    virtual ~FieldAccess() = default;

    // False when the accessibility bus cannot be reached, is switched off, or
    // keystrokes cannot be synthesised.
    virtual bool isTrusted() = 0;

    // Nothing when no window is active or the active window names no process.
    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

    // This process; never fails.
    virtual qint64 ownProcessId() const = 0;

    // A null element when the application exposes no focused element in time. While a
    // key grab holds the keyboard, the application's field reads as unfocused; then the
    // element that had the focus before the grab is the focused one.
    virtual AccessibleElement focusedElement(qint64 pid) = 0;

    // Learns the element focused in process `pid` before we listened for the focus,
    // for a later focusedElement(); may finish after it returns.
    virtual void learnFocus(qint64 pid) { focusedElement(pid); }

    // Whether a key grab on the root window holds the keyboard or let it go moments ago;
    // `none` when that cannot be told.
    virtual KeyboardGrab keyboardGrab() = 0;

    // The element's role name ("entry", "password text", ...); nothing when unreadable.
    virtual std::optional<QString> role(const AccessibleElement& element) = 0;

    // The element's window; nothing when unreadable or when it has none.
    virtual std::optional<AccessibleElement> window(const AccessibleElement& element) = 0;

    // Cursor and selected ranges; nothing when the element exposes no text cursor.
    virtual std::optional<TextSelection> selection(const AccessibleElement& element) = 0;

    // The element's whole text; nothing when unreadable.
    virtual std::optional<QString> text(const AccessibleElement& element) = 0;

    // How many characters the element holds; nothing when unreadable.
    virtual std::optional<qint64> characterCount(const AccessibleElement& element) = 0;

    // True while Shift, Control, Alt or Super is down; also true when the keyboard
    // state cannot be read, so an unknown state never receives a keystroke.
    virtual bool modifierHeld() = 0;

    // Posts the paste keystroke and returns without waiting for the receiver; false
    // when the keystroke could not be made or sent.
    virtual bool postPasteKeystroke() = 0;

    // Posts a space keystroke (press and release) and returns without waiting; false
    // when it could not be made or sent.
    virtual bool postSpaceKeystroke() = 0;
};
