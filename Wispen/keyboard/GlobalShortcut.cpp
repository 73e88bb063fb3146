#include "GlobalShortcut.h"

#include "HIDUsages.h"
#include "MicrophoneMapping.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// xcb/xkb.h names a struct member `explicit`, a C++ keyword; rename it for the
// duration of this one include (nothing here uses that member).
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace {

// The evdev and libinput drivers report a kernel key code plus this offset.
constexpr int xKeyCodeOffset = 8;
// The key the microphone key is remapped to, as the kernel reports it.
const int microphoneKernelCode = int(*HIDUsages::defaultKeyCode(MicrophoneMapping::destination));

constexpr std::uint32_t keysymSpace = 0x0020;
constexpr std::uint32_t keysymAltL = 0xffe9;
constexpr std::uint32_t keysymAltR = 0xffea;
constexpr std::uint32_t keysymNumLock = 0xff7f;
constexpr std::uint32_t keysymF19 = 0xffd0;
constexpr int keysymColumns = 4;

// Modifiers and pointer buttons share the event state; only the eight
// modifier bits decide which grab a press belongs to.
constexpr std::uint16_t modifierBits = 0xff;

template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using XcbPtr = std::unique_ptr<T, FreeDeleter<T>>;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t* p) const { xcb_key_symbols_free(p); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

std::vector<std::uint32_t> keysymsAt(xcb_key_symbols_t* symbols, xcb_keycode_t keyCode) {
    std::vector<std::uint32_t> keysyms;
    for (int column = 0; column < keysymColumns; ++column) {
        const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keyCode, column);
        if (keysym != XCB_NO_SYMBOL &&
            std::find(keysyms.begin(), keysyms.end(), keysym) == keysyms.end())
            keysyms.push_back(keysym);
    }
    return keysyms;
}

// What the current keyboard mapping says about the keys and modifiers we grab.
struct Layout {
    std::optional<xcb_keycode_t> space;
    std::uint16_t altMask = XCB_MOD_MASK_1;
    std::uint16_t numLockMask = 0;
};

// The modifier bit whose row holds a key carrying one of the keysyms, or 0.
std::uint16_t modifierMaskOf(xcb_connection_t* connection, xcb_key_symbols_t* symbols,
                             std::initializer_list<std::uint32_t> wanted) {
    const XcbPtr<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!mapping)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifier * perModifier + i];
            if (code == 0)
                continue;
            for (std::uint32_t keysym : keysymsAt(symbols, code)) {
                if (std::find(wanted.begin(), wanted.end(), keysym) != wanted.end())
                    return std::uint16_t(1u << modifier);
            }
        }
    }
    return 0;
}

Layout readLayout(xcb_connection_t* connection) {
    Layout layout;
    const KeySymbols symbols(xcb_key_symbols_alloc(connection));
    if (!symbols)
        return layout;
    const XcbPtr<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols.get(), keysymSpace));
    if (codes && codes.get()[0] != XCB_NO_SYMBOL)
        layout.space = codes.get()[0];
    if (const std::uint16_t alt =
            modifierMaskOf(connection, symbols.get(), {keysymAltL, keysymAltR}))
        layout.altMask = alt;
    layout.numLockMask = modifierMaskOf(connection, symbols.get(), {keysymNumLock});
    return layout;
}

// Every combination of Caps Lock and Num Lock, so the grab fires whatever their state.
std::vector<std::uint16_t> lockVariants(std::uint16_t modifiers, std::uint16_t numLockMask) {
    std::vector<std::uint16_t> variants;
    for (std::uint16_t locks : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK), numLockMask,
                                std::uint16_t(XCB_MOD_MASK_LOCK | numLockMask)}) {
        const std::uint16_t variant = modifiers | locks;
        if (std::find(variants.begin(), variants.end(), variant) == variants.end())
            variants.push_back(variant);
    }
    return variants;
}

xcb_window_t rootOf(xcb_connection_t* connection) {
    int screenNumber = 0;
    int display = 0;
    char* host = nullptr;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber) == 0)
        screenNumber = 0;
    std::free(host);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; screens.rem > 0; ++i, xcb_screen_next(&screens)) {
        if (i == screenNumber)
            return screens.data->root;
    }
    screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return screens.rem > 0 ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

GlobalShortcut::GlobalShortcut(std::shared_ptr<const SystemShortcuts> systemShortcuts)
    : m_systemShortcuts(std::move(systemShortcuts)) {
    // Keyboard mapping changes come in bursts; one re-grab after the burst is enough.
    m_regrabTimer.setSingleShot(true);
    m_regrabTimer.setInterval(0);
    QObject::connect(&m_regrabTimer, &QTimer::timeout, [this] { regrab(); });
}

GlobalShortcut::GlobalShortcut()
    : GlobalShortcut(std::make_shared<SystemShortcutsReader>()) {}

GlobalShortcut::~GlobalShortcut() {
    stop();
}

void GlobalShortcut::start() {
    if (!m_handlerInstalled)
        install();
    if (!m_fallback) {
        m_fallbackLost = false;
        m_fallback = grabFallback();
        if (!m_fallback)
            throw ZedazidEdize::message(QString::fromUtf8(fallbackInUseMessage));
    }
}

void GlobalShortcut::enableMicrophone() {
    if (m_microphone)
        return;
    m_microphoneLost = false;
    const std::vector<SystemShortcuts::Entry> entries = m_systemShortcuts->list();
    std::vector<std::uint32_t> keysyms{keysymF19};
    if (const std::optional<std::uint8_t> keyCode = microphoneKeyCode()) {
        for (std::uint32_t keysym : keysymsOf(*keyCode))
            keysyms.push_back(keysym);
    }
    for (const SystemShortcuts::Entry& entry : entries) {
        if (entry.enabled &&
            std::find(keysyms.begin(), keysyms.end(), entry.keysym) != keysyms.end())
            throw ZedazidEdize::message(QString::fromUtf8(microphoneUsedBySystemMessage));
    }
    m_microphone = grabMicrophone();
    if (!m_microphone)
        throw ZedazidEdize::message(QString::fromUtf8(microphoneNotReservedMessage));
}

void GlobalShortcut::disableMicrophone() {
    if (m_microphone && m_heldKey == m_microphone->keyCode) {
        // Ungrabbing a key leaves a grab it already activated in place; end it so
        // the focused application gets the keyboard back now.
        m_heldKey.reset();
        if (connected())
            xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
    }
    ungrab(m_microphone);
    m_microphoneLost = false;
}

void GlobalShortcut::stop() {
    const bool wasHeld = m_heldKey.has_value();
    m_heldKey.reset();
    m_fallbackLost = false;
    m_microphoneLost = false;
    ungrab(m_microphone);
    ungrab(m_fallback);
    m_regrabTimer.stop();
    if (!m_handlerInstalled)
        return;
    m_handlerInstalled = false;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (connected()) {
        if (wasHeld)
            xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
        if (m_restoreAutoRepeat) {
            const std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
            const XcbPtr<xcb_xkb_per_client_flags_reply_t> reply(xcb_xkb_per_client_flags_reply(
                m_connection,
                xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD, flag, 0, 0, 0, 0),
                nullptr));
        }
        xcb_flush(m_connection);
    }
    m_restoreAutoRepeat = false;
    m_connection = nullptr;
}

std::optional<std::uint8_t> GlobalShortcut::microphoneKeyCode() const {
    if (!connected())
        return std::nullopt;
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const int keyCode = microphoneKernelCode + xKeyCodeOffset;
    if (keyCode < setup->min_keycode || keyCode > setup->max_keycode)
        return std::nullopt;
    return std::uint8_t(keyCode);
}

void GlobalShortcut::install() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        throw ZedazidEdize::message(QString::fromUtf8(notInstalledMessage));
    const xcb_window_t root = rootOf(connection);

    // Without detectable auto-repeat a held key reads as a stream of releases and
    // presses, and hold-to-talk would stop at the first one.
    const XcbPtr<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
        nullptr));
    const xcb_query_extension_reply_t* xkbData = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (root == XCB_WINDOW_NONE || !xkb || !xkb->supported || !xkbData || !xkbData->present)
        throw ZedazidEdize::message(QString::fromUtf8(notInstalledMessage));
    const std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const XcbPtr<xcb_xkb_per_client_flags_reply_t> before(xcb_xkb_per_client_flags_reply(
        connection, xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 0, 0, 0),
        nullptr));
    if (!before || !(before->supported & flag))
        throw ZedazidEdize::message(QString::fromUtf8(notInstalledMessage));
    const bool wasOn = before->value & flag;
    if (!wasOn) {
        const XcbPtr<xcb_xkb_per_client_flags_reply_t> after(xcb_xkb_per_client_flags_reply(
            connection,
            xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0),
            nullptr));
        if (!after || !(after->value & flag))
            throw ZedazidEdize::message(QString::fromUtf8(notInstalledMessage));
    }

    m_connection = connection;
    m_root = root;
    m_xkbFirstEvent = xkbData->first_event;
    m_restoreAutoRepeat = !wasOn;
    m_numLockMask = readLayout(connection).numLockMask;
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_handlerInstalled = true;
}

bool GlobalShortcut::connected() const {
    // Qt closes its connection when the application object goes; a shortcut that
    // outlives it has nothing left to release.
    if (!m_connection || !qGuiApp)
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && x11->connection() == m_connection;
}

bool GlobalShortcut::grab(std::uint8_t keyCode, std::uint16_t modifiers, Grab& into) {
    into = Grab{keyCode, modifiers, {}};
    const std::vector<std::uint16_t> variants = lockVariants(modifiers, m_numLockMask);
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint16_t variant : variants) {
        // Not owner events: the event always names the root window, which is how
        // the filter tells our grabs from keys typed into our own windows.
        cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root, variant, keyCode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    // Any error fails the whole grab; BadAccess means another client holds that
    // combination.
    bool grabbed = true;
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        const XcbPtr<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[i]));
        if (error)
            grabbed = false;
        else
            into.variants.push_back(variants[i]);
    }
    if (!grabbed) {
        std::optional<Grab> partial = into;
        ungrab(partial);
    }
    return grabbed;
}

void GlobalShortcut::ungrab(std::optional<Grab>& grab) {
    if (grab && connected()) {
        for (std::uint16_t variant : grab->variants)
            xcb_ungrab_key(m_connection, grab->keyCode, m_root, variant);
        xcb_flush(m_connection);
    }
    grab.reset();
}

std::optional<GlobalShortcut::Grab> GlobalShortcut::grabFallback() {
    if (!connected())
        return std::nullopt;
    const Layout layout = readLayout(m_connection);
    if (!layout.space)
        return std::nullopt;
    Grab fallback;
    if (!grab(*layout.space, XCB_MOD_MASK_CONTROL | layout.altMask, fallback))
        return std::nullopt;
    return fallback;
}

std::optional<GlobalShortcut::Grab> GlobalShortcut::grabMicrophone() {
    const std::optional<std::uint8_t> keyCode = microphoneKeyCode();
    Grab microphone;
    if (!keyCode || !grab(*keyCode, 0, microphone))
        return std::nullopt;
    return microphone;
}

void GlobalShortcut::regrab() {
    if (!m_handlerInstalled || !connected())
        return;
    // The space bar may have moved to another key code and Num Lock or Alt to
    // another modifier; grabs made for the old mapping would no longer fire.
    const Layout layout = readLayout(m_connection);
    const bool locksChanged = layout.numLockMask != m_numLockMask;
    m_numLockMask = layout.numLockMask;
    if (m_fallbackLost ||
        (m_fallback && (locksChanged || layout.space != m_fallback->keyCode ||
                        m_fallback->modifiers != (XCB_MOD_MASK_CONTROL | layout.altMask))))
        renew(m_fallback, m_fallbackLost, fallbackInUseMessage, &GlobalShortcut::grabFallback);
    if (m_microphoneLost || (m_microphone && locksChanged))
        renew(m_microphone, m_microphoneLost, microphoneNotReservedMessage,
              &GlobalShortcut::grabMicrophone);
}

void GlobalShortcut::renew(std::optional<Grab>& grab, bool& lost, const char* sentence,
                           std::optional<Grab> (GlobalShortcut::*grabAgain)()) {
    ungrab(grab);
    grab = (this->*grabAgain)();
    const bool reported = lost;
    lost = !grab;
    // A copy, so the callback may replace itself or stop the shortcut.
    const auto callback = onGrabLost;
    if (lost && !reported && callback)
        callback(QString::fromUtf8(sentence));
}

std::vector<std::uint32_t> GlobalShortcut::keysymsOf(std::uint8_t keyCode) const {
    if (!connected())
        return {};
    const KeySymbols symbols(xcb_key_symbols_alloc(m_connection));
    return symbols ? keysymsAt(symbols.get(), keyCode) : std::vector<std::uint32_t>{};
}

bool GlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!m_handlerInstalled || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & ~0x80;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        return takeKeyEvent(type == XCB_KEY_PRESS, key->event, key->detail, key->state);
    }
    if (type == XCB_MAPPING_NOTIFY) {
        m_regrabTimer.start();
    } else if (type == m_xkbFirstEvent) {
        // Every XKB event shares one type; the second byte says which it is.
        const std::uint8_t xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            m_regrabTimer.start();
    }
    return false;
}

bool GlobalShortcut::takeKeyEvent(bool press, std::uint32_t window, std::uint8_t keyCode,
                                  std::uint16_t state) {
    if (window != m_root)
        return false;
    if (!press) {
        // Matched by key code alone: the modifiers usually come up first.
        if (m_heldKey != keyCode)
            return false;
        m_heldKey.reset();
        deliver(false);
        return true;
    }
    if (m_heldKey == keyCode) {
        deliver(true); // auto-repeat, reported as presses only
        return true;
    }
    const std::uint16_t modifiers =
        state & modifierBits & ~std::uint16_t(XCB_MOD_MASK_LOCK | m_numLockMask);
    for (const std::optional<Grab>* grab : {&m_fallback, &m_microphone}) {
        if (*grab && (*grab)->keyCode == keyCode && (*grab)->modifiers == modifiers) {
            m_heldKey = keyCode;
            deliver(true);
            return true;
        }
    }
    return false;
}

void GlobalShortcut::deliver(bool down) {
    // A copy, so the callback may replace itself or stop the shortcut.
    const std::function<void(bool)> callback = onKey;
    if (callback)
        callback(down);
}
