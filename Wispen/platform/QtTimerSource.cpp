#include "QtTimerSource.h"

#include <QTimer>

namespace {

class QtTimerHandle final : public TimerSource::Handle {
public:
    QtTimerHandle(std::chrono::milliseconds interval, std::function<void()> fire) {
        m_timer.setInterval(interval);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(fire));
        m_timer.start();
    }

private:
    QTimer m_timer;
};

} // namespace

std::unique_ptr<TimerSource::Handle>
QtTimerSource::startRepeating(std::chrono::milliseconds interval, std::function<void()> fire) {
    return std::make_unique<QtTimerHandle>(interval, std::move(fire));
}
