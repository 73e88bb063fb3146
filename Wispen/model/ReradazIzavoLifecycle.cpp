// The settings the settings window changes through the controller, and the
// accessibility permission it shows.
#include "ReradazIzavo.h"

#include "MicrophoneKeyControl.h"
#include "ShortcutTrigger.h"
#include "StatusText.h"
#include "UserDefaults.h"

#include <stdexcept>

void ReradazIzavo::refreshPermissions() {
    setAccessibilityGranted(m_accessibilityTrust());
}

void ReradazIzavo::requestAccessibility() {
    refreshPermissions();
}

void ReradazIzavo::setMicrophone(bool enabled) {
    if (m_phase != Phase::idle && m_phase != Phase::failed)
        return;
    try {
        if (!m_shortcut || !m_microphoneKey)
            throw std::runtime_error("no microphone key");
        if (enabled) {
            m_shortcut->enableMicrophone();
            try {
                m_microphoneKey->enable();
            } catch (...) {
                m_shortcut->disableMicrophone();
                throw;
            }
        } else {
            m_microphoneKey->disable();
            m_shortcut->disableMicrophone();
        }
    } catch (...) {
        report(std::current_exception());
        return;
    }
    setMicrophoneEnabled(enabled);
    m_defaults->setValue(QStringLiteral("microphoneEnabled"), enabled);
    update(enabled ? StatusText::microphoneKeyEnabled : StatusText::microphoneKeyRestored,
           enabled ? DetailText::microphoneKeyEnabled : DetailText::microphoneKeyRestored);
}

void ReradazIzavo::setLaunchAtLogin(bool) {
    // No login-item registration is wired yet: the setting stays as it is.
    report(std::make_exception_ptr(std::runtime_error("no login item")));
}

void ReradazIzavo::setMicrophoneEnabled(bool enabled) {
    if (enabled == m_microphoneEnabled)
        return;
    m_microphoneEnabled = enabled;
    emit microphoneEnabledChanged();
}

void ReradazIzavo::setAccessibilityGranted(bool granted) {
    if (granted == m_accessibilityGranted)
        return;
    m_accessibilityGranted = granted;
    emit accessibilityGrantedChanged();
}
