#include "HIDKeyboardMappingStore.h"

#include "HIDUsages.h"
#include "LinuxInputDevices.h"
#include "ZedazidEdize.h"

#include <algorithm>
#include <map>

namespace {

const QString cannotReadDevices =
    QStringLiteral("Cannot read keyboard devices. Use Control-Option-Space to record.");
const QString couldNotChange = QStringLiteral(
    "macOS could not change the microphone key. Use Control-Option-Space to record.");
const QString disconnected = QStringLiteral("A keyboard disconnected during setup. Try again.");

constexpr unsigned highestKeyCode = 0x2FF;

// A device vanished while it was being read; it is left out as if listed a moment later.
struct Vanished {};

// The key code of each known usage the device's keymap holds.
std::map<quint64, unsigned> keymap(InputDevice& device) {
    std::map<quint64, unsigned> codes;
    for (quint64 usage : HIDKeyboardMappingStore::knownUsages()) {
        unsigned code = 0;
        switch (device.keyCode(*HIDUsages::scancode(usage), code)) {
        case InputDevice::Status::ok:
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

DeviceMapping deviceMapping(InputDevice& device, quint32 number) {
    const std::map<quint64, unsigned> codes = keymap(device);
    DeviceMapping mapping{QString::number(number), {}, {}};
    for (const auto& [usage, code] : codes) {
        if (code != HIDUsages::defaultKeyCode(usage))
            mapping.mappings.append({usage, HIDUsages::usageForKeyCode(code)});
    }
    // Sort by the known order, which std::map does not keep.
    std::stable_sort(mapping.mappings.begin(), mapping.mappings.end(),
                     [](const MicrophoneMapping::Entry& a, const MicrophoneMapping::Entry& b) {
                         const auto& known = HIDKeyboardMappingStore::knownUsages();
                         return known.indexOf(a.src) < known.indexOf(b.src);
                     });
    int letters = 0;
    bool consumer = false;
    for (unsigned code = 0; code <= highestKeyCode; ++code) {
        if (!device.hasKey(code))
            continue;
        letters += HIDUsages::isLetterKey(code) ? 1 : 0;
        consumer = consumer || HIDUsages::isConsumerKey(code);
    }
    // Only a keymap addressed by HID usages can carry the remapping; a keyboard
    // whose scancodes are something else (a laptop's built-in one) cannot.
    const bool remappable = codes.count(MicrophoneMapping::source) > 0;
    mapping.sources =
        DeviceMapping::sourcesFor(remappable && letters == 26, remappable && consumer);
    return mapping;
}

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
    : HIDKeyboardMappingStore(std::make_unique<LinuxInputDevices>()) {}

HIDKeyboardMappingStore::HIDKeyboardMappingStore(std::unique_ptr<InputDevices> devices)
    : m_devices(std::move(devices)) {}

HIDKeyboardMappingStore::~HIDKeyboardMappingStore() = default;

const QList<quint64>& HIDKeyboardMappingStore::knownUsages() {
    static const QList<quint64> usages = {
        MicrophoneMapping::keyboardF5, MicrophoneMapping::legacyDestination,
        MicrophoneMapping::destination, MicrophoneMapping::source};
    return usages;
}

QStringList HIDKeyboardMappingStore::listNodes() {
    auto nodes = m_devices->nodes();
    if (!nodes)
        throw ZedazidEdize::message(cannotReadDevices);
    return *nodes;
}

// Null when the node has gone meanwhile; throws when it may not be opened.
std::unique_ptr<InputDevice> HIDKeyboardMappingStore::open(const QString& node) {
    InputDevices::OpenFailure failure = InputDevices::OpenFailure::none;
    auto device = m_devices->open(node, failure);
    if (!device && failure != InputDevices::OpenFailure::gone)
        throw ZedazidEdize::message(cannotReadDevices);
    return device;
}

QList<DeviceMapping> HIDKeyboardMappingStore::read() {
    QList<DeviceMapping> result;
    for (const QString& node : listNodes()) {
        const auto device = open(node);
        if (!device)
            continue;
        try {
            const auto number = device->inputNumber();
            if (!number)
                continue;
            result.append(deviceMapping(*device, *number));
        } catch (const Vanished&) {
        }
    }
    return result;
}

void HIDKeyboardMappingStore::write(const QString& deviceID,
                                    const MicrophoneMapping::MappingList& mappings,
                                    const MicrophoneMapping::MappingList& replacing) {
    std::unique_ptr<InputDevice> device;
    for (const QString& node : listNodes()) {
        device = open(node);
        const auto number = device ? device->inputNumber() : std::nullopt;
        if (number && QString::number(*number) == deviceID)
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
