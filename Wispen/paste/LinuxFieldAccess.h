#pragma once

#include "AtspiDesktop.h"
#include "FieldAccess.h"
#include "X11Session.h"

#include <memory>

// The paste target's view of a Linux X11 desktop: accessibility over AT-SPI, the
// active application, keyboard state and the paste keystroke over the X server.
// Needs a QGuiApplication on the xcb platform and Qt's GLib event dispatcher (the
// default), which delivers the AT-SPI focus events.
class LinuxFieldAccess final : public FieldAccess {
public:
    // The process-wide instance, made on first use, which must come after the
    // QGuiApplication; from then on it follows the focus.
    static std::shared_ptr<LinuxFieldAccess> shared();

    // Stops following the focus events; never fails.
    void stopWatchingFocus() { accessibility_.stopFollowingFocus(); }

    bool isTrusted() override;
    std::optional<FrontmostApplication> frontmostApplication() override;
    qint64 ownProcessId() const override;
    AccessibleElement focusedElement(qint64 pid) override;
    void learnFocus(qint64 pid) override { accessibility_.learnFocus(pid); }
    KeyboardGrab keyboardGrab() override;
    std::optional<QString> role(const AccessibleElement& element) override;
    std::optional<AccessibleElement> window(const AccessibleElement& element) override;
    std::optional<TextSelection> selection(const AccessibleElement& element) override;
    std::optional<QString> text(const AccessibleElement& element) override;
    std::optional<qint64> characterCount(const AccessibleElement& element) override;
    bool modifierHeld() override;
    bool postPasteKeystroke() override;
    bool postSpaceKeystroke() override;

private:
    AtspiDesktop accessibility_;
    X11Session x11_;
};
