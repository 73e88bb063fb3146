#include "CompositingWatch.h"

#include "XcbReply.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

CompositingWatch& CompositingWatch::instance() {
    static CompositingWatch* watch = new CompositingWatch; // lives as long as the process
    return *watch;
}

CompositingWatch::CompositingWatch() {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    // The screen Qt opened: the number after the display's dot (":0.1"), else 0.
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.indexOf('.', colon);
    const int screenNumber = dot > colon && colon >= 0 ? display.mid(dot + 1).toInt() : 0;
    xcb_screen_t* screen = nullptr;
    int index = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it), ++index)
        if (index == screenNumber)
            screen = it.data;
    if (!screen)
        return;
    const QByteArray atomName = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, atomName.size(), atomName.constData()),
        nullptr));
    if (!atom)
        return;
    m_selection = atom->atom;

    // Without XFixes the first answer stands: compositors rarely come and go.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        XcbReply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            connection, xcb_xfixes_query_version(connection, 1, 0), nullptr));
        if (version) {
            m_firstXfixesEvent = xfixes->first_event;
            xcb_xfixes_select_selection_input(
                connection, screen->root, m_selection,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            xcb_flush(connection);
            qGuiApp->installNativeEventFilter(this);
        }
    }
    readOwner();
}

void CompositingWatch::readOwner() {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !m_selection)
        return;
    XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_selection), nullptr));
    const bool running = owner && owner->owner != XCB_NONE;
    if (running == m_running)
        return;
    m_running = running;
    emit runningChanged();
}

bool CompositingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !m_firstXfixesEvent)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != m_firstXfixesEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection == m_selection)
        readOwner();
    return false; // others may watch selections too
}
