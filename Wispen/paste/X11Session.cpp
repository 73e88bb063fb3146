#include "X11Session.h"

#include "XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstring>
#include <linux/input-event-codes.h>
#include <memory>

namespace {

// Modifier bits of the core protocol's key mask that make a paste unsafe.
constexpr uint16_t heldModifierMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

constexpr xcb_keysym_t keysymV = 0x0076;
constexpr xcb_keysym_t keysymSpace = 0x0020;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
// A keymap with only non-Latin layouts has no V anywhere; toolkits still read
// Control with the key where V sits on a Latin keyboard as paste. X key codes are
// the kernel's plus 8.
constexpr xcb_keycode_t keycodeOfKernelKeyV = KEY_V + 8;

// Longest property we read (window class, application id), in 32-bit units.
constexpr uint32_t maxPropertyLength = 256;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

// The first key code that produces `keysym`, or 0.
xcb_keycode_t keycodeFor(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    const XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    return codes ? codes.get()[0] : xcb_keycode_t{XCB_NO_SYMBOL};
}

XcbReply<xcb_get_property_reply_t> readProperty(xcb_connection_t* connection, xcb_window_t window,
                                                xcb_atom_t property, xcb_atom_t type) {
    if (property == XCB_ATOM_NONE)
        return nullptr;
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, property, type, 0, maxPropertyLength);
    return XcbReply<xcb_get_property_reply_t>(xcb_get_property_reply(connection, cookie, nullptr));
}

// The NUL-separated strings of a string property (WM_CLASS holds two).
QStringList propertyStrings(const xcb_get_property_reply_t* reply) {
    QStringList strings;
    if (!reply || reply->format != 8)
        return strings;
    const int length = xcb_get_property_value_length(reply);
    const char* value = static_cast<const char*>(xcb_get_property_value(reply));
    for (const QByteArray& part : QByteArray(value, length).split('\0')) {
        if (!part.isEmpty())
            strings.append(QString::fromUtf8(part));
    }
    return strings;
}

} // namespace

X11Session::X11Session() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 =
        application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    connection_ = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (screens.rem == 0) {
        connection_ = nullptr;
        return;
    }
    root_ = screens.data->root;
    activeWindowAtom_ = atom("_NET_ACTIVE_WINDOW");
    pidAtom_ = atom("_NET_WM_PID");
    applicationIdAtom_ = atom("_GTK_APPLICATION_ID");
    watchRootFocus();
}

void X11Session::watchRootFocus() {
    // Event masks are kept per client, so adding ours leaves every other client's
    // alone; Qt ignores focus events of windows that are not its own.
    const XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, root_), nullptr));
    if (!attributes)
        return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_FOCUS_CHANGE;
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(
        connection_,
        xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask)));
    if (!error)
        QCoreApplication::instance()->installNativeEventFilter(this);
}

bool X11Session::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (type != XCB_FOCUS_IN && type != XCB_FOCUS_OUT)
        return false;
    // Focus-in and focus-out events share one layout.
    const auto* focus = reinterpret_cast<const xcb_focus_in_event_t*>(event);
    if (focus->event != root_)
        return false;
    if (type == XCB_FOCUS_IN && focus->mode == XCB_NOTIFY_MODE_GRAB) {
        m_grabHeld = true;
    } else if (type == XCB_FOCUS_OUT && focus->mode == XCB_NOTIFY_MODE_UNGRAB) {
        m_grabHeld = false;
        m_sinceGrabEnded.start();
    }
    return false;
}

KeyboardGrab X11Session::keyboardGrab() const {
    if (m_grabHeld)
        return KeyboardGrab::held;
    if (m_sinceGrabEnded.isValid() && m_sinceGrabEnded.elapsed() < focusReturnMs)
        return KeyboardGrab::justReleased;
    return KeyboardGrab::none;
}

xcb_atom_t X11Session::atom(const char* name) const {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name);
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection_, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool X11Session::canSynthesiseKeys() const {
    if (!connection_)
        return false;
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection_, &xcb_test_id);
    return extension && extension->present;
}

std::optional<xcb_window_t> X11Session::activeWindow() const {
    const auto reply = readProperty(connection_, root_, activeWindowAtom_, XCB_ATOM_WINDOW);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    const xcb_window_t window =
        *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    return window;
}

std::optional<FrontmostApplication> X11Session::frontmostApplication() const {
    if (!connection_)
        return std::nullopt;
    const std::optional<xcb_window_t> window = activeWindow();
    if (!window)
        return std::nullopt;
    // Ask for all three properties before waiting for the first answer.
    const auto pidCookie =
        xcb_get_property(connection_, 0, *window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1);
    const auto classCookie = xcb_get_property(connection_, 0, *window, XCB_ATOM_WM_CLASS,
                                              XCB_ATOM_STRING, 0, maxPropertyLength);
    const auto idCookie = xcb_get_property(connection_, 0, *window, applicationIdAtom_,
                                           XCB_GET_PROPERTY_TYPE_ANY, 0, maxPropertyLength);
    const XcbReply<xcb_get_property_reply_t> pid(
        xcb_get_property_reply(connection_, pidCookie, nullptr));
    const XcbReply<xcb_get_property_reply_t> windowClass(
        xcb_get_property_reply(connection_, classCookie, nullptr));
    const XcbReply<xcb_get_property_reply_t> applicationId(
        xcb_get_property_reply(connection_, idCookie, nullptr));
    if (!pid || pid->format != 32 || xcb_get_property_value_length(pid.get()) < 4)
        return std::nullopt;
    FrontmostApplication application;
    application.pid = *static_cast<const uint32_t*>(xcb_get_property_value(pid.get()));
    if (application.pid <= 0)
        return std::nullopt;
    if (applicationIdAtom_ != XCB_ATOM_NONE)
        application.identifiers += propertyStrings(applicationId.get());
    application.identifiers += propertyStrings(windowClass.get());
    return application;
}

bool X11Session::modifierHeld() const {
    if (!connection_)
        return true;
    const XcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    if (!pointer)
        return true;
    return (pointer->mask & heldModifierMask) != 0;
}

bool X11Session::postPasteKeystroke() const {
    if (!canSynthesiseKeys())
        return false;
    const KeySymbols symbols(xcb_key_symbols_alloc(connection_));
    if (!symbols)
        return false;
    const xcb_keycode_t control = keycodeFor(symbols.get(), keysymControlL);
    xcb_keycode_t v = keycodeFor(symbols.get(), keysymV);
    if (v == XCB_NO_SYMBOL)
        v = keycodeOfKernelKeyV;
    if (control == XCB_NO_SYMBOL)
        return false;
    auto fake = [this](uint8_t type, xcb_keycode_t key) {
        return xcb_test_fake_input_checked(connection_, type, key, XCB_CURRENT_TIME,
                                           XCB_WINDOW_NONE, 0, 0, 0);
    };
    const xcb_void_cookie_t cookies[] = {
        fake(XCB_KEY_PRESS, control),
        fake(XCB_KEY_PRESS, v),
        fake(XCB_KEY_RELEASE, v),
        fake(XCB_KEY_RELEASE, control),
    };
    // Waits for the X server only; the receiving application is never waited for.
    bool posted = true;
    for (const xcb_void_cookie_t& cookie : cookies) {
        const XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
        posted = posted && !error;
    }
    return posted;
}

bool X11Session::postSpaceKeystroke() const {
    if (!canSynthesiseKeys())
        return false;
    const KeySymbols symbols(xcb_key_symbols_alloc(connection_));
    const xcb_keycode_t space =
        symbols ? keycodeFor(symbols.get(), keysymSpace) : xcb_keycode_t{XCB_NO_SYMBOL};
    if (space == XCB_NO_SYMBOL)
        return false;
    const XcbReply<xcb_generic_error_t> pressed(xcb_request_check(
        connection_, xcb_test_fake_input_checked(connection_, XCB_KEY_PRESS, space,
                                                 XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0)));
    // Released whatever the press's answer, so no key is left down.
    const XcbReply<xcb_generic_error_t> released(xcb_request_check(
        connection_, xcb_test_fake_input_checked(connection_, XCB_KEY_RELEASE, space,
                                                 XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0)));
    return !pressed && !released;
}
