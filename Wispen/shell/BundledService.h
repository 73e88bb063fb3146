#pragma once

#include <QObject>
#include <QString>

class QProcess;
class QTcpSocket;

// Starts the bundled transcription service when the application talks to the
// bundled address and nothing answers there, so that dictation works without any
// script around the application. The service is our child: it ends when we stop
// it, when we die, or by itself after ten idle minutes; ensureRunning() brings it
// back the next time it is needed.
class BundledService : public QObject {
    Q_OBJECT

public:
    // How long the service stays up without requests before it exits by itself.
    static constexpr int idleExitSeconds = 600;
    // How long stop() lets the service finish its requests before it is killed.
    static constexpr int stopGraceMs = 3000;

    // `program` is the service executable; empty disables starting it.
    explicit BundledService(QString program = locate(), QObject* parent = nullptr);
    ~BundledService() override;

    // Starts the service unless another address is configured, our child runs,
    // or something already answers at the bundled address. Never blocks: the
    // check and the start happen on the event loop.
    void ensureRunning();

    // Ends our child, if any: a termination request, then a kill after the grace.
    void stop();

    // Whether our child is running (not a service someone else started).
    bool running() const;

    // The service executable: beside ours, else on PATH; empty when there is none.
    static QString locate();

signals:
    // Our child has started (for tests and the shell).
    void started();

private:
    void start();

    QString m_program;
    QProcess* m_process = nullptr;
    QTcpSocket* m_probe = nullptr;
};
