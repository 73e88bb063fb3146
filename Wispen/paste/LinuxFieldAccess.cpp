#include "LinuxFieldAccess.h"

#include "AccessibilityStatus.h"

#include <QCoreApplication>

std::shared_ptr<LinuxFieldAccess> LinuxFieldAccess::shared() {
    static const auto instance = std::make_shared<LinuxFieldAccess>();
    return instance;
}

bool LinuxFieldAccess::isTrusted() {
    return accessibility_.isConnected() && x11_.canSynthesiseKeys() &&
           AccessibilityStatus::isEnabled();
}

std::optional<FrontmostApplication> LinuxFieldAccess::frontmostApplication() {
    return x11_.frontmostApplication();
}

qint64 LinuxFieldAccess::ownProcessId() const {
    return QCoreApplication::applicationPid();
}

AccessibleElement LinuxFieldAccess::focusedElement(qint64 pid) {
    return accessibility_.focused(pid, x11_.keyboardGrab() == KeyboardGrab::held);
}

KeyboardGrab LinuxFieldAccess::keyboardGrab() {
    return x11_.keyboardGrab();
}

std::optional<QString> LinuxFieldAccess::role(const AccessibleElement& element) {
    return accessibility_.role(element);
}

std::optional<AccessibleElement> LinuxFieldAccess::window(const AccessibleElement& element) {
    return accessibility_.window(element);
}

std::optional<TextSelection> LinuxFieldAccess::selection(const AccessibleElement& element) {
    return accessibility_.selection(element);
}

std::optional<QString> LinuxFieldAccess::text(const AccessibleElement& element) {
    return accessibility_.text(element);
}

std::optional<qint64> LinuxFieldAccess::characterCount(const AccessibleElement& element) {
    return accessibility_.characterCount(element);
}

bool LinuxFieldAccess::modifierHeld() {
    return x11_.modifierHeld();
}

bool LinuxFieldAccess::postPasteKeystroke() {
    return x11_.postPasteKeystroke();
}

bool LinuxFieldAccess::postSpaceKeystroke() {
    return x11_.postSpaceKeystroke();
}
