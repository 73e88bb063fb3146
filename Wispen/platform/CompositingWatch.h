#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>

// Whether a compositing manager runs on the X screen, which decides whether a
// window can have translucent corners: one does while some client owns the
// selection _NET_WM_CM_S<screen>. Follows the owner as compositors start and stop
// (XFixes selection notifications). Without an X connection nothing composites.
class CompositingWatch final : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // The application's one watch; needs a QGuiApplication for X.
    static CompositingWatch& instance();

    bool running() const { return m_running; }

signals:
    void runningChanged();

private:
    CompositingWatch();
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void readOwner();

    bool m_running = false;
    std::uint32_t m_selection = 0; // the atom _NET_WM_CM_S<screen>; 0 without X
    std::uint8_t m_firstXfixesEvent = 0;
};
