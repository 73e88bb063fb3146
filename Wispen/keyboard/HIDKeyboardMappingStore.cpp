#include "HIDKeyboardMappingStore.h"

#include "HIDUsages.h"
#include "HelperInputDevices.h"
#include "LinuxInputDevices.h"
#include "ZedazidEdize.h"

#include <algorithm>
#include <linux/input-event-codes.h>
#include <map>

namespace {

const QString cannotReadDevices =
    QStringLiteral("Cannot read keyboard devices. Use Ctrl+Alt+Space to record.");
const QString couldNotChange =
    QStringLiteral("The system could not change the microphone key. Use Ctrl+Alt+Space to record.");
const QString disconnected = QStringLiteral("A keyboard disconnected during setup. Try again.");

constexpr unsigned highestKeyCode = 0x2FF;

// A device vanished while it was being read; it is left out as if listed a moment later.
struct Vanished {};
// The devices may not be opened by this user.
struct Denied {};

QStringList listNodes(InputDevices& devices) {
    auto nodes = devices.nodes();
    if (!nodes)
        throw Denied{};
    return *nodes;
}

// Null when the node has gone meanwhile.
std::unique_ptr<InputDevice> open(InputDevices& devices, const QString& node) {
    InputDevices::OpenFailure failure = InputDevices::OpenFailure::none;
    auto device = devices.open(node, failure);
    if (!device && failure != InputDevices::OpenFailure::gone)
        throw Denied{};
    return device;
}

// The key code of each known usage the device's keymap holds; none for a keymap
// that is not addressed by usages.
std::map<quint64, unsigned> keymap(InputDevice& device) {
    std::map<quint64, unsigned> codes;
    if (!device.hidKeymap())
        return codes;
    for (quint64 usage : HIDKeyboardMappingStore::knownUsages()) {
        unsigned code = 0;
        switch (device.keyCode(*HIDUsages::scancode(usage), code)) {
        case InputDevice::Status::ok:
            // What a switched-off key (and rc-core for any scancode) answers.
            if (code != KEY_RESERVED)
                codes[usage] = code;
            break;
        case InputDevice::Status::unmapped:
            break;
        case InputDevice::Status::gone:
            throw Vanished{};
        case InputDevice::Status::failed:
            throw ZedazidEdize::message(cannotReadDevices);
        }
    }
    return codes;
}

// One keymap as a mapping list: its known usages whose key codes are not the defaults.
MicrophoneMapping::MappingList mappingList(const std::map<quint64, unsigned>& codes) {
    MicrophoneMapping::MappingList list;
    for (quint64 usage : HIDKeyboardMappingStore::knownUsages()) {
        const auto code = codes.find(usage);
        if (code != codes.end() && code->second != HIDUsages::defaultKeyCode(usage))
            list.append({usage, HIDUsages::usageForKeyCode(code->second)});
    }
    return list;
}

} // namespace

HIDKeyboardMappingStore::Kind HIDKeyboardMappingStore::kindOf(const InputDevice& device) {
    int letters = 0;
    Kind kind;
    for (unsigned code = 0; code <= highestKeyCode; ++code) {
        if (!device.hasKey(code))
            continue;
        letters += HIDUsages::isLetterKey(code) ? 1 : 0;
        kind.consumer = kind.consumer || HIDUsages::isConsumerKey(code);
    }
    kind.keyboard = letters == 26;
    return kind;
}

namespace {

// The key code the list gives each usage of the keymap: its entry's destination or
// the default. Nothing when the keymap cannot hold the list: one key code per
// usage, only usages the device has, only destinations that are key codes.
std::optional<std::map<quint64, unsigned>> keyCodes(const MicrophoneMapping::MappingList& list,
                                                    const std::map<quint64, unsigned>& keymap) {
    std::map<quint64, unsigned> codes;
    for (const auto& [usage, code] : keymap)
        codes[usage] = *HIDUsages::defaultKeyCode(usage);
    QList<quint64> seen;
    for (const MicrophoneMapping::Entry& entry : list) {
        const auto code = HIDUsages::keyCodeForUsage(entry.dst);
        if (!keymap.count(entry.src) || seen.contains(entry.src) || !code)
            return std::nullopt;
        seen.append(entry.src);
        codes[entry.src] = *code;
    }
    return codes;
}

} // namespace

HIDKeyboardMappingStore::HIDKeyboardMappingStore()
    : HIDKeyboardMappingStore(std::make_unique<LinuxInputDevices>(),
                              std::make_unique<HelperInputDevices>()) {}

HIDKeyboardMappingStore::HIDKeyboardMappingStore(std::unique_ptr<InputDevices> devices,
                                                 std::unique_ptr<InputDevices> privileged)
    : m_devices(std::move(devices))
    , m_privileged(std::move(privileged)) {}

HIDKeyboardMappingStore::~HIDKeyboardMappingStore() = default;

const QList<quint64>& HIDKeyboardMappingStore::knownUsages() {
    static const QList<quint64> usages = {
        MicrophoneMapping::keyboardF5, MicrophoneMapping::legacyDestination,
        MicrophoneMapping::destination, MicrophoneMapping::source};
    return usages;
}

template <typename Operation> auto HIDKeyboardMappingStore::withAccess(Operation operation) {
    if (!m_usePrivileged) {
        try {
            return operation(*m_devices);
        } catch (const Denied&) {
            if (!m_privileged)
                throw ZedazidEdize::message(cannotReadDevices);
            m_usePrivileged = true;
        }
    }
    try {
        return operation(*m_privileged);
    } catch (const Denied&) {
        throw ZedazidEdize::message(cannotReadDevices);
    }
}

QList<DeviceMapping> HIDKeyboardMappingStore::read() {
    return withAccess([this](InputDevices& devices) { return readFrom(devices); });
}

void HIDKeyboardMappingStore::write(const QString& deviceID,
                                    const MicrophoneMapping::MappingList& mappings,
                                    const MicrophoneMapping::MappingList& replacing) {
    withAccess([&](InputDevices& devices) { writeTo(devices, deviceID, mappings, replacing); });
}

QList<DeviceMapping> HIDKeyboardMappingStore::readFrom(InputDevices& devices) {
    // Nodes of one HID device (its keyboard and consumer-control halves) share one
    // keymap; they are listed once, under the first node's number, as one service
    // with the keys of all of them.
    struct Service {
        DeviceMapping mapping;
        QString keymapOwner;
        bool remappable = false;
        Kind kind;
    };
    QList<Service> services;
    for (const QString& node : listNodes(devices)) {
        const auto device = open(devices, node);
        const auto number = device ? device->inputNumber() : std::nullopt;
        if (!number)
            continue;
        const QString owner = device->keymapOwner();
        const Kind kind = kindOf(*device);
        auto shared = std::find_if(services.begin(), services.end(), [&](const Service& s) {
            return !owner.isEmpty() && s.keymapOwner == owner;
        });
        if (shared != services.end()) {
            shared->kind.keyboard = shared->kind.keyboard || kind.keyboard;
            shared->kind.consumer = shared->kind.consumer || kind.consumer;
            continue;
        }
        try {
            const std::map<quint64, unsigned> codes = keymap(*device);
            // Only a keymap addressed by HID usages can carry the remapping; a keyboard
            // whose scancodes are something else (a laptop's built-in one) cannot.
            services.append({{QString::number(*number), mappingList(codes), {}},
                             owner,
                             codes.count(MicrophoneMapping::source) > 0,
                             kind});
        } catch (const Vanished&) {
        }
    }
    QList<DeviceMapping> result;
    for (Service& service : services) {
        service.mapping.sources =
            DeviceMapping::sourcesFor(service.remappable && service.kind.keyboard,
                                      service.remappable && service.kind.consumer);
        result.append(service.mapping);
    }
    return result;
}

void HIDKeyboardMappingStore::writeTo(InputDevices& devices, const QString& deviceID,
                                      const MicrophoneMapping::MappingList& mappings,
                                      const MicrophoneMapping::MappingList& replacing) {
    // The service with that id: a node that is the first of those sharing its keymap.
    std::unique_ptr<InputDevice> device;
    QStringList owners;
    for (const QString& node : listNodes(devices)) {
        device = open(devices, node);
        const auto number = device ? device->inputNumber() : std::nullopt;
        const QString owner = number ? device->keymapOwner() : QString();
        const bool service = number && (owner.isEmpty() || !owners.contains(owner));
        owners.append(owner);
        if (service && QString::number(*number) == deviceID)
            break;
        device.reset();
    }
    if (!device)
        throw ZedazidEdize::message(disconnected);

    std::map<quint64, unsigned> current;
    try {
        current = keymap(*device);
    } catch (const Vanished&) {
        throw ZedazidEdize::message(disconnected);
    }
    const auto wanted = keyCodes(mappings, current);
    const auto expected = keyCodes(replacing, current);
    if (!wanted)
        throw ZedazidEdize::message(couldNotChange);

    // Written usage by usage, each only while it holds what the caller read; what this
    // call changed is put back before any failure is reported.
    std::map<quint64, unsigned> written;
    const auto undo = [&] {
        for (const auto& [usage, code] : written)
            device->setKeyCode(*HIDUsages::scancode(usage), code);
    };
    for (const auto& [usage, code] : *wanted) {
        if (expected && expected->at(usage) == code)
            continue;
        if (!expected || current.at(usage) != expected->at(usage)) {
            undo();
            throw ZedazidEdize::message(KeyboardMappingStore::mappingsChanged);
        }
        const auto status = device->setKeyCode(*HIDUsages::scancode(usage), code);
        if (status == InputDevice::Status::ok) {
            written[usage] = current.at(usage);
            continue;
        }
        undo();
        throw ZedazidEdize::message(status == InputDevice::Status::gone ? disconnected
                                                                        : couldNotChange);
    }
}
