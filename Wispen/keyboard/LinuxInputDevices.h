#pragma once

#include "InputDevices.h"

// The real input devices: /dev/input/event* through the evdev ioctls, and the
// device number and the keymap's owner from sysfs (/sys/class/input/eventN/device
// is inputN; its parent is the device that holds the keymap).
class LinuxInputDevices final : public InputDevices {
public:
    explicit LinuxInputDevices(QString devicesFolder = QStringLiteral("/dev/input"),
                               QString sysfsFolder = QStringLiteral("/sys/class/input"));

    std::optional<QStringList> nodes() override;
    std::unique_ptr<InputDevice> open(const QString& node, OpenFailure& failure) override;

private:
    QString m_devicesFolder;
    QString m_sysfsFolder;
};
