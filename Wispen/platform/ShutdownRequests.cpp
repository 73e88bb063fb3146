#include "ShutdownRequests.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::array handledSignals{SIGTERM, SIGINT};

// Written only by install() and the destructor on the main thread; read by the
// signal handler, which must not touch anything else.
int g_writeEnd = -1;
ShutdownRequests* g_listening = nullptr;
bool g_exitHookRegistered = false;

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

ShutdownRequests::ShutdownRequests(std::function<bool()> shutdown, QObject* parent)
    : QObject(parent)
    , m_shutdown(std::move(shutdown)) {}

ShutdownRequests::~ShutdownRequests() {
    uninstall();
}

void ShutdownRequests::uninstall() {
    if (!m_notifier)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (const int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
    g_listening = nullptr;
    m_notifier.reset();
    ::close(std::exchange(g_writeEnd, -1));
    m_installed = false;
}

bool ShutdownRequests::install() {
    if (m_installed || g_listening)
        return m_installed;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    g_writeEnd = ends[1];
    m_notifier = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this, readEnd = ends[0]] {
        char bytes[16];
        while (::read(readEnd, bytes, sizeof bytes) > 0) {
        }
        signalled();
    });
    // The read end belongs to the notifier's lifetime.
    connect(m_notifier.get(), &QObject::destroyed, [readEnd = ends[0]] { ::close(readEnd); });

    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            uninstall();
            return false;
        }
    }
    g_listening = this;
    m_installed = true;
    if (!g_exitHookRegistered)
        g_exitHookRegistered = std::atexit(&ShutdownRequests::onExit) == 0;
    return true;
}

void ShutdownRequests::signalled() {
    if (m_handled)
        return;
    m_handled = true;
    QCoreApplication::exit(m_shutdown() ? 0 : 1);
}

void ShutdownRequests::onExit() {
    // exit() while still listening: the process is ending without having returned
    // from the event loop, as Qt does when the X connection is lost. The objects of
    // main() still exist, so the shutdown can run now.
    ShutdownRequests* self = g_listening;
    if (!self || self->m_handled)
        return;
    self->m_handled = true;
    if (self->m_shutdown())
        ::_exit(0);
}
