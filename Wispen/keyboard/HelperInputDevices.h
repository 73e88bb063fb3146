#pragma once

#include "InputDevices.h"

#include <QProcess>
#include <QStringList>

#include <map>

// The keyboards as wispen-keymap-helper shows them, for users who may not open the
// input devices: the helper is started on first use (through pkexec, so polkit
// decides) and ends by itself when left idle; it is started again when needed.
// Nodes are the keyboards' input numbers. Without the helper, or when polkit
// refuses, the devices cannot be listed.
class HelperInputDevices final : public InputDevices {
public:
    // pkexec running the installed helper.
    HelperInputDevices();
    // Any program that speaks the helper's requests (tests run it directly).
    HelperInputDevices(QString program, QStringList arguments);
    ~HelperInputDevices() override;

    std::optional<QStringList> nodes() override;
    std::unique_ptr<InputDevice> open(const QString& node, OpenFailure& failure) override;

    // The helper's answer to one request line; nothing when it cannot be asked.
    std::optional<QString> ask(const QString& request);

private:
    QString m_program;
    QStringList m_arguments;
    QProcess m_process;
    bool m_answered = false;             // the running helper has answered before
    std::map<quint32, QString> m_listed; // input number -> keymap owner
};
