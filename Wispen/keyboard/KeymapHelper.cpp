#include "KeymapHelper.h"

#include "HIDKeyboardMappingStore.h"
#include "HIDUsages.h"

#include <QRegularExpression>

#include <cerrno>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

const QString refused = QStringLiteral("refused");

std::optional<quint32> number(const QString& word) {
    static const QRegularExpression decimal(QStringLiteral("^(0|[1-9][0-9]{0,9})$"));
    bool ok = false;
    const quint32 value = word.toUInt(&ok);
    return decimal.match(word).hasMatch() && ok ? std::optional<quint32>(value) : std::nullopt;
}

// The usage a scancode stands for, when it is one a mapping list is made of.
std::optional<quint64> knownUsage(quint32 scancode) {
    for (quint64 usage : HIDKeyboardMappingStore::knownUsages()) {
        if (HIDUsages::scancode(usage) == scancode)
            return usage;
    }
    return std::nullopt;
}

// The microphone mapping's writes: a source back to its own key code, or the
// microphone key to the destination's.
bool writable(quint64 usage, unsigned keyCode) {
    if (usage != MicrophoneMapping::source && usage != MicrophoneMapping::keyboardF5)
        return false;
    return keyCode == HIDUsages::defaultKeyCode(usage) ||
           (usage == MicrophoneMapping::source &&
            keyCode == HIDUsages::defaultKeyCode(MicrophoneMapping::destination));
}

QString statusWord(InputDevice::Status status) {
    switch (status) {
    case InputDevice::Status::ok:
        return QStringLiteral("ok");
    case InputDevice::Status::unmapped:
        return QStringLiteral("unmapped");
    case InputDevice::Status::gone:
        return QStringLiteral("gone");
    case InputDevice::Status::failed:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace

KeymapHelper::KeymapHelper(InputDevices& devices)
    : m_devices(devices) {}

std::vector<KeymapHelper::Keyboard> KeymapHelper::keyboards() {
    std::vector<Keyboard> found;
    std::vector<QString> owners;
    for (const QString& node : m_devices.nodes().value_or(QStringList())) {
        InputDevices::OpenFailure failure = InputDevices::OpenFailure::none;
        auto device = m_devices.open(node, failure);
        const auto number = device ? device->inputNumber() : std::nullopt;
        if (!number || !device->hidKeymap())
            continue;
        const HIDKeyboardMappingStore::Kind kind = HIDKeyboardMappingStore::kindOf(*device);
        if (!kind.keyboard && !kind.consumer)
            continue;
        const QString owner = device->keymapOwner();
        quint32 first = *number;
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (!owner.isEmpty() && owners[i] == owner) {
                first = found[i].owner;
                break;
            }
        }
        owners.push_back(owner);
        found.push_back({*number, first, std::move(device)});
    }
    return found;
}

QString KeymapHelper::list() {
    QString answer = QStringLiteral("ok");
    for (const Keyboard& keyboard : keyboards())
        answer += QStringLiteral(" %1,%2").arg(keyboard.number).arg(keyboard.owner);
    return answer;
}

QString KeymapHelper::keymapRequest(const QStringList& words) {
    const bool set = words[0] == QLatin1String("set");
    const auto device = number(words[1]);
    const auto scancode = number(words[2]);
    const auto usage = scancode ? knownUsage(*scancode) : std::nullopt;
    const auto keyCode = set ? number(words[3]) : std::nullopt;
    if (!device || !usage || (set && (!keyCode || !writable(*usage, *keyCode))))
        return refused;
    for (Keyboard& keyboard : keyboards()) {
        if (keyboard.number != *device)
            continue;
        if (set)
            return statusWord(keyboard.device->setKeyCode(*scancode, *keyCode));
        unsigned code = 0;
        const InputDevice::Status status = keyboard.device->keyCode(*scancode, code);
        return status == InputDevice::Status::ok ? QStringLiteral("ok %1").arg(code)
                                                 : statusWord(status);
    }
    return QStringLiteral("gone");
}

QString KeymapHelper::answer(const QString& request) {
    const QStringList words = request.split(QLatin1Char(' '));
    if (request.size() > longestRequest)
        return refused;
    if (words == QStringList{QStringLiteral("list")})
        return list();
    if ((words[0] == QLatin1String("get") && words.size() == 3) ||
        (words[0] == QLatin1String("set") && words.size() == 4))
        return keymapRequest(words);
    return refused;
}

int KeymapHelper::serve(int in, int out, int idleMs) {
    std::string pending;
    char buffer[256];
    for (;;) {
        pollfd ready{in, POLLIN, 0};
        const int polled = ::poll(&ready, 1, idleMs);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return 0;
        const ssize_t count = ::read(in, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return 0;
        pending.append(buffer, std::size_t(count));
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos) {
            const QString request = QString::fromUtf8(pending.data(), qsizetype(end));
            pending.erase(0, end + 1);
            const QByteArray reply = answer(request).toUtf8() + '\n';
            if (::write(out, reply.constData(), std::size_t(reply.size())) != reply.size())
                return 1;
        }
        // A line that never ends is no request; it is not kept growing.
        if (pending.size() > std::size_t(longestRequest) * 4)
            return 1;
    }
}
