#pragma once

#include "ShortcutTrigger.h"
#include "SystemShortcuts.h"

#include <QAbstractNativeEventFilter>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct xcb_connection_t;

// The system-wide trigger keys on X11: passive grabs on the root window through
// Qt's own X connection for Control+Alt+Space (always) and for the key the kernel
// reports as KEY_F19 (the remapped microphone key, while that setting is on).
// Presses and releases of both keys reach onKey; every other event passes on.
// The grabs follow keyboard mapping changes (the space bar or Num Lock moving).
class GlobalShortcut final : public ShortcutTrigger, private QAbstractNativeEventFilter {
public:
    static constexpr const char* notInstalledMessage =
        "The global shortcut could not be installed.";
    static constexpr const char* fallbackInUseMessage =
        "Ctrl+Alt+Space is already in use. You can still record from the tray icon.";
    static constexpr const char* microphoneUsedBySystemMessage =
        "F19 is used by a system shortcut, so the microphone key was not remapped.";
    static constexpr const char* microphoneNotReservedMessage =
        "F19 could not be reserved, so the microphone key was not remapped.";

    // The desktop's configured shortcuts are read from systemShortcuts.
    explicit GlobalShortcut(std::shared_ptr<const SystemShortcuts> systemShortcuts);
    // Reads the desktop's configured shortcuts from its GNOME and KDE settings.
    GlobalShortcut();
    // Stops first, so no grab outlives the object.
    ~GlobalShortcut() override;

    GlobalShortcut(const GlobalShortcut&) = delete;
    GlobalShortcut& operator=(const GlobalShortcut&) = delete;

    // Without an X connection, or when the X server cannot report held keys as
    // presses only, throws notInstalledMessage and installs nothing. When another
    // program holds Control+Alt+Space, throws fallbackInUseMessage and stays
    // installed, so F19 can still be enabled. A second call only retries that grab.
    void start() override;
    // Does nothing while F19 is reserved. Throws the system shortcuts' error,
    // microphoneUsedBySystemMessage or microphoneNotReservedMessage and leaves
    // F19 free when it cannot reserve it.
    void enableMicrophone() override;
    // Releases F19; never fails.
    void disableMicrophone() override;
    // Releases both keys and removes the event filter; never fails.
    void stop() override;

    // The X key code of the kernel's KEY_F19 on the connection start() installed
    // on; nothing before that, or when the server has no such key code.
    std::optional<std::uint8_t> microphoneKeyCode() const;

private:
    // One key grabbed for every Num Lock / Caps Lock combination.
    struct Grab {
        std::uint8_t keyCode = 0;
        std::uint16_t modifiers = 0;
        std::vector<std::uint16_t> variants;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool takeKeyEvent(bool press, std::uint32_t window, std::uint8_t keyCode, std::uint16_t state);
    void deliver(bool down);

    void install();
    bool connected() const;
    bool grab(std::uint8_t keyCode, std::uint16_t modifiers, Grab& into);
    void ungrab(std::optional<Grab>& grab);
    std::optional<Grab> grabFallback();
    std::optional<Grab> grabMicrophone();
    void regrab();
    void renew(std::optional<Grab>& grab, bool& lost, const char* sentence,
               std::optional<Grab> (GlobalShortcut::*grabAgain)());
    std::vector<std::uint32_t> keysymsOf(std::uint8_t keyCode) const;

    std::shared_ptr<const SystemShortcuts> m_systemShortcuts;
    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint8_t m_xkbFirstEvent = 0;
    bool m_handlerInstalled = false;
    bool m_restoreAutoRepeat = false;
    std::uint16_t m_numLockMask = 0;
    std::optional<Grab> m_fallback;
    std::optional<Grab> m_microphone;
    // Grabs that a keyboard mapping change cost us; renewed at the next change.
    bool m_fallbackLost = false;
    bool m_microphoneLost = false;
    std::optional<std::uint8_t> m_heldKey;
    QTimer m_regrabTimer;
};
