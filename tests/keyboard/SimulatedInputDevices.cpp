#include "SimulatedInputDevices.h"

#include <linux/input-event-codes.h>

namespace {

// A handle on one eventN.
class SimulatedHandle final : public InputDevice {
public:
    SimulatedHandle(SimulatedInputDevices& kernel, SimulatedDevice& device)
        : m_kernel(kernel)
        , m_device(device) {}

    std::optional<quint32> inputNumber() const override { return m_device.inputNumber; }
    QString keymapOwner() const override { return m_device.hidDevice; }
    bool hasKey(unsigned keyCode) const override { return m_device.keys.count(keyCode); }
    bool hidKeymap() const override { return m_device.hid; }

    Status keyCode(quint32 scancode, unsigned& keyCode) override {
        if (!mapped(scancode))
            return Status::unmapped;
        keyCode = m_device.keymap->at(scancode);
        return Status::ok;
    }

    Status setKeyCode(quint32 scancode, unsigned keyCode) override {
        const bool known = mapped(scancode);
        ++m_kernel.keymapWrites;
        if (!known)
            return Status::unmapped;
        if (m_device.refuseWrites > 0 && m_device.refuseWrites--)
            return Status::failed;
        if (!(m_device.dropWrites > 0 && m_device.dropWrites--))
            m_device.keymap->at(scancode) = keyCode;
        return Status::ok;
    }

private:
    // Whether the keymap holds the scancode, after the test's hook has run.
    bool mapped(quint32 scancode) {
        if (m_kernel.beforeKeymapCall)
            m_kernel.beforeKeymapCall();
        return m_device.keymap->count(scancode);
    }

    SimulatedInputDevices& m_kernel;
    SimulatedDevice& m_device;
};

SimulatedDevice withKeymap(quint32 inputNumber, std::set<unsigned> keys,
                           std::initializer_list<quint64> usages) {
    SimulatedDevice device;
    device.inputNumber = inputNumber;
    device.keys = std::move(keys);
    for (quint64 usage : usages)
        (*device.keymap)[*HIDUsages::scancode(usage)] = *HIDUsages::defaultKeyCode(usage);
    return device;
}

} // namespace

SimulatedDevice* SimulatedInputDevices::device(quint32 inputNumber) {
    for (auto& [event, device] : events) {
        if (device.inputNumber == inputNumber)
            return &device;
    }
    return nullptr;
}

std::optional<QStringList> SimulatedInputDevices::nodes() {
    QStringList nodes;
    for (const auto& [event, device] : events)
        nodes.append(QStringLiteral("/dev/input/event%1").arg(event));
    return nodes;
}

std::unique_ptr<InputDevice> SimulatedInputDevices::open(const QString& node,
                                                         OpenFailure& failure) {
    const int event = node.mid(QStringLiteral("/dev/input/event").size()).toInt();
    const auto found = events.find(event);
    failure = found == events.end()  ? OpenFailure::gone
              : found->second.denied ? OpenFailure::denied
                                     : OpenFailure::none;
    if (failure != OpenFailure::none)
        return nullptr;
    return std::make_unique<SimulatedHandle>(*this, found->second);
}

namespace SimulatedDevices {

SimulatedDevice keyboard(quint32 inputNumber) {
    std::set<unsigned> keys = {KEY_F5, KEY_F15, KEY_F19, KEY_VOICECOMMAND, KEY_VOLUMEUP};
    for (auto [first, last] : {std::pair{KEY_Q, KEY_P}, {KEY_A, KEY_L}, {KEY_Z, KEY_M}}) {
        for (unsigned code = first; code <= unsigned(last); ++code)
            keys.insert(code);
    }
    return withKeymap(inputNumber, keys,
                      {0x700000004, MicrophoneMapping::keyboardF5,
                       MicrophoneMapping::legacyDestination, MicrophoneMapping::destination,
                       MicrophoneMapping::source, 0xC000000E9 /* volume up */});
}

void plugSplitKeyboard(SimulatedInputDevices& kernel, quint32 keyboardNumber,
                       quint32 consumerNumber) {
    SimulatedDevice keys = keyboard(keyboardNumber);
    keys.keys.erase(KEY_VOICECOMMAND);
    keys.keys.erase(KEY_VOLUMEUP);
    SimulatedDevice consumer = withKeymap(consumerNumber, {KEY_VOICECOMMAND, KEY_VOLUMEUP}, {});
    consumer.keymap = keys.keymap;
    consumer.hidDevice = keys.hidDevice = QStringLiteral("0003:05AC:%1").arg(keyboardNumber);
    kernel.plug(keys);
    kernel.plug(consumer);
}

SimulatedDevice mouse(quint32 inputNumber) {
    return withKeymap(inputNumber, {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE}, {});
}

SimulatedDevice remoteControl(quint32 inputNumber) {
    SimulatedDevice device = withKeymap(inputNumber, {KEY_POWER, KEY_VOLUMEUP, KEY_MUTE}, {});
    for (quint64 usage : HIDKeyboardMappingStore::knownUsages())
        (*device.keymap)[*HIDUsages::scancode(usage)] = KEY_RESERVED;
    device.hid = false;
    return device;
}

} // namespace SimulatedDevices
