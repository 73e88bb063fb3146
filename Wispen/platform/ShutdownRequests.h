#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// The requests to end the process that come from outside the application: SIGTERM
// (logout, kill), SIGINT (a terminal's Ctrl+C) and the X connection closing. Each
// runs the one shutdown Quit runs, without asking the user, and the process ends:
// with status 0 when the shutdown answered true, 1 when it could not finish.
// Signals reach the main thread through a pipe the handler writes to; the lost X
// connection, after which Qt ends the process with exit(), through an exit hook
// that runs while the application's objects still exist.
class ShutdownRequests final : public QObject {
    Q_OBJECT
public:
    // `shutdown` runs on the main thread at most once; it answers whether the
    // application may end.
    explicit ShutdownRequests(std::function<bool()> shutdown, QObject* parent = nullptr);
    // Restores the default signal actions and disarms the exit hook.
    ~ShutdownRequests() override;

    ShutdownRequests(const ShutdownRequests&) = delete;
    ShutdownRequests& operator=(const ShutdownRequests&) = delete;

    // Starts listening; false when the pipe or a handler could not be set up (the
    // signals then keep their default action). Only one instance may listen.
    bool install();
    // Whether the shutdown ran.
    bool handled() const { return m_handled; }

private:
    void signalled();
    void uninstall();
    static void onExit();

    std::function<bool()> m_shutdown;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    bool m_handled = false;
};
