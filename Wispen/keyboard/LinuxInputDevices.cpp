#include "LinuxInputDevices.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Closes the device node with the object.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

InputDevice::Status statusFor(int error) {
    switch (error) {
    case EINVAL:
        return InputDevice::Status::unmapped;
    case ENODEV:
    case ENOENT:
    case ENXIO:
        return InputDevice::Status::gone;
    default:
        return InputDevice::Status::failed;
    }
}

class EvdevDevice final : public InputDevice {
public:
    EvdevDevice(int fd, QString sysfsDevice)
        : m_fd(fd)
        , m_sysfsDevice(std::move(sysfsDevice)) {
        unsigned long bits[KEY_CNT / (8 * sizeof(unsigned long)) + 1] = {};
        if (::ioctl(m_fd.get(), EVIOCGBIT(EV_KEY, sizeof bits), bits) >= 0) {
            for (unsigned code = 0; code < KEY_CNT; ++code) {
                const unsigned long word = bits[code / (8 * sizeof(unsigned long))];
                m_keys[code] = (word >> (code % (8 * sizeof(unsigned long)))) & 1;
            }
        }
    }

    std::optional<quint32> inputNumber() const override {
        // The "device" link of eventN points at its parent, inputN.
        const QString target = QFileInfo(m_sysfsDevice).canonicalFilePath();
        const QString name = QFileInfo(target).fileName();
        if (!name.startsWith(QLatin1String("input")))
            return std::nullopt;
        bool ok = false;
        const quint32 number = name.mid(5).toUInt(&ok);
        return ok ? std::optional<quint32>(number) : std::nullopt;
    }

    QString keymapOwner() const override {
        // inputN's parent is the HID device that holds the keymap of all its nodes.
        const QString target =
            QFileInfo(m_sysfsDevice + QStringLiteral("/device")).canonicalFilePath();
        return target;
    }

    bool hasKey(unsigned keyCode) const override { return keyCode < KEY_CNT && m_keys[keyCode]; }

    bool hidKeymap() const override {
        const QString subsystem =
            QFileInfo(keymapOwner() + QStringLiteral("/subsystem")).canonicalFilePath();
        return subsystem.endsWith(QLatin1String("/bus/hid"));
    }

    Status keyCode(quint32 scancode, unsigned& keyCode) override {
        input_keymap_entry entry = keymapEntry(scancode);
        if (::ioctl(m_fd.get(), EVIOCGKEYCODE_V2, &entry) < 0)
            return statusFor(errno);
        keyCode = entry.keycode;
        return Status::ok;
    }

    Status setKeyCode(quint32 scancode, unsigned keyCode) override {
        input_keymap_entry entry = keymapEntry(scancode);
        entry.keycode = keyCode;
        if (::ioctl(m_fd.get(), EVIOCSKEYCODE_V2, &entry) < 0)
            return statusFor(errno);
        return Status::ok;
    }

private:
    static input_keymap_entry keymapEntry(quint32 scancode) {
        input_keymap_entry entry{};
        entry.len = sizeof scancode;
        std::memcpy(entry.scancode, &scancode, sizeof scancode);
        return entry;
    }

    FileDescriptor m_fd;
    QString m_sysfsDevice;
    std::bitset<KEY_CNT> m_keys;
};

} // namespace

LinuxInputDevices::LinuxInputDevices(QString devicesFolder, QString sysfsFolder)
    : m_devicesFolder(std::move(devicesFolder))
    , m_sysfsFolder(std::move(sysfsFolder)) {}

std::optional<QStringList> LinuxInputDevices::nodes() {
    QDir folder(m_devicesFolder);
    if (!folder.exists())
        return QStringList{}; // a machine without input devices
    if (!folder.isReadable())
        return std::nullopt;
    QStringList names = folder.entryList({QStringLiteral("event*")}, QDir::System | QDir::Files);
    // eventN numbers follow the order in which the kernel registered the devices.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.mid(5).toULongLong() < b.mid(5).toULongLong();
    });
    QStringList nodes;
    for (const QString& name : names)
        nodes.append(folder.filePath(name));
    return nodes;
}

std::unique_ptr<InputDevice> LinuxInputDevices::open(const QString& node, OpenFailure& failure) {
    const int fd = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure =
            statusFor(errno) == InputDevice::Status::gone ? OpenFailure::gone : OpenFailure::denied;
        return nullptr;
    }
    failure = OpenFailure::none;
    const QString sysfsDevice =
        m_sysfsFolder + u'/' + QFileInfo(node).fileName() + QStringLiteral("/device");
    return std::make_unique<EvdevDevice>(fd, sysfsDevice);
}
