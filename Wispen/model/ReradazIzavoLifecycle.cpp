// The lifecycle: start-up, the permission poll, the microphone-key and
// launch-at-login settings, and the shutdown that leaves the keyboard as it was.
#include "ReradazIzavo.h"

#include "LoginItem.h"
#include "MicrophoneKeyControl.h"
#include "ServiceAddress.h"
#include "ShortcutTrigger.h"
#include "SleepNotifier.h"
#include "StatusText.h"
#include "Transcriber.h"
#include "UserDefaults.h"

#include <QPointer>

#include <algorithm>
#include <climits>

namespace {

// A poll period for the timers: whole milliseconds, at least one (a zero period
// would poll at every turn of the event loop), at most what a timer can hold.
std::chrono::milliseconds pollPeriod(std::uint64_t nanoseconds) {
    constexpr std::uint64_t nanosecondsPerMillisecond = 1'000'000;
    const std::uint64_t milliseconds =
        nanoseconds / nanosecondsPerMillisecond + (nanoseconds % nanosecondsPerMillisecond != 0);
    return std::chrono::milliseconds(
        std::clamp<std::uint64_t>(milliseconds, 1, static_cast<std::uint64_t>(INT_MAX)));
}

} // namespace

void ReradazIzavo::start() {
    applyServiceAddress();

    m_shortcut->onKey = [model = QPointer<ReradazIzavo>(this)](bool down) {
        if (model)
            model->key(down);
    };
    try {
        m_shortcut->start();
    } catch (...) {
        report(std::current_exception());
    }

    if (m_microphoneEnabled) {
        try {
            m_shortcut->enableMicrophone();
            m_microphoneKey->enable();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            m_shortcut->disableMicrophone();
            setMicrophoneEnabled(false);
            m_defaults->setValue(microphoneEnabledKey, false);
            report(error);
        }
    } else if (m_microphoneKey->ownsMapping()) {
        // An earlier run left the keyboard remapped (it crashed, or the setting was
        // turned off elsewhere): give the key back.
        try {
            m_microphoneKey->disable();
        } catch (...) {
            report(std::current_exception());
        }
    }

    // Without a system bus there are no sleep announcements; dictation still works.
    m_sleepNotifier->start();
    m_sleepObserved = true;
    m_startWatchingFocus();
}

void ReradazIzavo::applyServiceAddress() {
    std::optional<QString> address = m_serviceAddress;
    if (!address) {
        const QVariant stored = m_defaults->value(serviceURLKey);
        if (!stored.isValid())
            return;
        // A value of another type is as unusable as a malformed one.
        address = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    }
    // An unusable address is never configured, so no recording is sent to it.
    try {
        ServiceAddress::configure(*address);
    } catch (...) {
        report(std::current_exception());
    }
}

void ReradazIzavo::refreshPermissions() {
    setAccessibilityGranted(m_accessibilityTrust());
}

void ReradazIzavo::startPermissionMonitoring(std::uint64_t intervalNanoseconds) {
    stopPermissionMonitoring();
    refreshPermissions();
    m_permissionMonitor = m_timers->startRepeating(pollPeriod(intervalNanoseconds),
                                                   [model = QPointer<ReradazIzavo>(this)] {
                                                       if (model)
                                                           model->refreshPermissions();
                                                   });
}

void ReradazIzavo::stopPermissionMonitoring() {
    m_permissionMonitor.reset();
}

void ReradazIzavo::requestAccessibility() {
    refreshPermissions();
    if (m_accessibilityGranted)
        return;
    // The answer is left to the permission poll, which follows the user's decision.
    if (m_promptForAccessibility())
        return;
    m_openAccessibilitySettings();
}

void ReradazIzavo::setMicrophone(bool enabled) {
    // The keyboard is never remapped during a dictation.
    if (m_phase != Phase::idle && m_phase != Phase::failed)
        return;
    if (enabled) {
        // The destination key is reserved first, so a press is ours once it is mapped.
        try {
            m_shortcut->enableMicrophone();
        } catch (...) {
            report(std::current_exception());
            return;
        }
        try {
            m_microphoneKey->enable();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            m_shortcut->disableMicrophone();
            report(error);
            return;
        }
    } else {
        // The keyboard is restored first; when it cannot be, the key stays reserved
        // so the remapped key still records.
        try {
            m_microphoneKey->disable();
        } catch (...) {
            report(std::current_exception());
            return;
        }
        m_shortcut->disableMicrophone();
    }
    setMicrophoneEnabled(enabled);
    m_defaults->setValue(microphoneEnabledKey, enabled);
    if (enabled)
        update(StatusText::microphoneKeyEnabled, DetailText::microphoneKeyEnabled);
    else
        update(StatusText::microphoneKeyRestored, DetailText::microphoneKeyRestored);
}

void ReradazIzavo::setLaunchAtLogin(bool enabled) {
    try {
        m_loginItem->setRegistered(enabled);
    } catch (...) {
        report(std::current_exception());
        return;
    }
    setLaunchAtLoginValue(m_loginItem->isEnabled());
    // Written but not in effect: the desktop overrides our entry.
    if (enabled && !m_launchAtLogin) {
        update(StatusText::allowBackgroundAccess, DetailText::allowBackgroundAccess);
        m_loginItem->openSettings();
    }
}

bool ReradazIzavo::shutdown() {
    resetRecording();
    update(StatusText::ready, readyHint());
    try {
        m_microphoneKey->disable();
    } catch (...) {
        // Nothing else stops: the application keeps working and can try again.
        report(std::current_exception());
        return false;
    }
    stopPermissionMonitoring();
    m_shortcut->stop();
    m_transcriber->invalidate();
    if (m_sleepObserved) {
        m_sleepNotifier->stop();
        m_sleepObserved = false;
    }
    m_stopWatchingFocus();
    return true;
}

void ReradazIzavo::setMicrophoneEnabled(bool enabled) {
    if (enabled == m_microphoneEnabled)
        return;
    m_microphoneEnabled = enabled;
    emit microphoneEnabledChanged();
}

void ReradazIzavo::setLaunchAtLoginValue(bool enabled) {
    if (enabled == m_launchAtLogin)
        return;
    m_launchAtLogin = enabled;
    emit launchAtLoginChanged();
}

void ReradazIzavo::setAccessibilityGranted(bool granted) {
    if (granted == m_accessibilityGranted)
        return;
    m_accessibilityGranted = granted;
    emit accessibilityGrantedChanged();
}
