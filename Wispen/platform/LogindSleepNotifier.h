#pragma once

#include "SleepNotifier.h"

#include <QObject>

// logind's PrepareForSleep(true) signal on the system bus. Without a system bus (a
// container, a minimal session) start() fails and the notifier never fires.
class LogindSleepNotifier final : public QObject, public SleepNotifier {
    Q_OBJECT
public:
    using QObject::QObject;
    ~LogindSleepNotifier() override;

    bool start() override;
    void stop() override;

private slots:
    void prepareForSleep(bool beforeSleep);

private:
    bool m_listening = false;
};
