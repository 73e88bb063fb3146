#pragma once

#include <QObject>

// Keeps one copy of the application per session. The first copy owns the
// application id on the session bus; a later launch asks it to reopen (toggle its
// panel, or open settings) and then leaves quietly.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.wispenrezuraz.WispenRezuraz")

public:
    enum class Claim {
        first,   // we own the name: carry on
        another, // a running copy was asked to reopen: exit now
        noBus,   // no session bus to ask: carry on alone
    };

    // How long a second launch waits for the first copy's answer.
    static constexpr int reopenTimeoutMs = 2000;

    explicit SingleInstance(QObject* parent = nullptr);

    // Claims the name, or asks its owner to reopen. A copy that holds the name but
    // does not answer in time still counts as running: two copies would fight
    // over the same shortcut.
    Claim claim(bool showSettings);

public slots:
    Q_SCRIPTABLE void Reopen(bool showSettings);

signals:
    void reopenRequested(bool showSettings);
};
