#include "SimulatedInputDevices.h"

#include "HIDUsages.h"

#include <linux/input-event-codes.h>

namespace {

class SimulatedHandle final : public InputDevice {
public:
    SimulatedHandle(SimulatedKernel& kernel, int event, quint32 inputNumber)
        : m_kernel(kernel)
        , m_event(event)
        , m_inputNumber(inputNumber) {
        m_keys = present()->keys;
        m_hidDevice = present()->hidDevice;
    }

    std::optional<quint32> inputNumber() const override {
        return present() ? std::optional<quint32>(m_inputNumber) : std::nullopt;
    }

    QString keymapOwner() const override { return m_hidDevice; }

    bool hasKey(unsigned keyCode) const override { return m_keys.count(keyCode) > 0; }

    Status keyCode(quint32 scancode, unsigned& keyCode) override {
        call();
        ++m_kernel.keymapReads;
        SimulatedDevice* device = present();
        if (!device)
            return Status::gone;
        device = m_kernel.keymapHolder(*device);
        const auto found = device->keymap.find(scancode);
        if (found == device->keymap.end())
            return Status::unmapped;
        keyCode = found->second;
        return Status::ok;
    }

    Status setKeyCode(quint32 scancode, unsigned keyCode) override {
        call();
        ++m_kernel.keymapWrites;
        SimulatedDevice* device = present();
        if (!device)
            return Status::gone;
        device = m_kernel.keymapHolder(*device);
        const auto found = device->keymap.find(scancode);
        if (found == device->keymap.end())
            return Status::unmapped;
        if (device->refuseWrites > 0) {
            --device->refuseWrites;
            return Status::failed;
        }
        if (device->dropWrites > 0) {
            --device->dropWrites;
            return Status::ok;
        }
        found->second = keyCode;
        return Status::ok;
    }

private:
    void call() {
        if (m_kernel.beforeKeymapCall)
            m_kernel.beforeKeymapCall();
    }

    // The device while it is still the one this handle opened.
    SimulatedDevice* present() const {
        const auto found = m_kernel.events.find(m_event);
        if (found == m_kernel.events.end() || found->second.inputNumber != m_inputNumber)
            return nullptr;
        return &found->second;
    }

    SimulatedKernel& m_kernel;
    int m_event;
    quint32 m_inputNumber;
    std::set<unsigned> m_keys;
    QString m_hidDevice;
};

std::map<quint32, unsigned> hidKeymap(std::initializer_list<quint64> usages) {
    std::map<quint32, unsigned> keymap;
    for (quint64 usage : usages)
        keymap[*HIDUsages::scancode(usage)] = *HIDUsages::defaultKeyCode(usage);
    return keymap;
}

constexpr quint64 keyboardPage = quint64(0x07) << 32;
constexpr quint64 consumerPage = quint64(0x0C) << 32;

} // namespace

int SimulatedKernel::plug(SimulatedDevice device) {
    const int event = m_nextEvent++;
    events[event] = std::move(device);
    return event;
}

void SimulatedKernel::unplug(quint32 inputNumber) {
    // Unplugging takes every node of the HID device with it.
    const SimulatedDevice* unplugged = device(inputNumber);
    const QString hid = unplugged ? unplugged->hidDevice : QString();
    std::erase_if(events, [&](const auto& e) {
        return e.second.inputNumber == inputNumber || (!hid.isEmpty() && e.second.hidDevice == hid);
    });
}

SimulatedDevice* SimulatedKernel::device(quint32 inputNumber) {
    for (auto& [event, device] : events) {
        if (device.inputNumber == inputNumber)
            return &device;
    }
    return nullptr;
}

SimulatedDevice* SimulatedKernel::keymapHolder(SimulatedDevice& device) {
    if (device.hidDevice.isEmpty())
        return &device;
    for (auto& [event, other] : events) {
        if (other.hidDevice == device.hidDevice)
            return &other;
    }
    return &device;
}

std::optional<QStringList> SimulatedInputDevices::nodes() {
    if (m_kernel.listingFails)
        return std::nullopt;
    QStringList nodes;
    for (const auto& [event, device] : m_kernel.events)
        nodes.append(QStringLiteral("/dev/input/event%1").arg(event));
    return nodes;
}

std::unique_ptr<InputDevice> SimulatedInputDevices::open(const QString& node,
                                                         OpenFailure& failure) {
    const int event = node.mid(QStringLiteral("/dev/input/event").size()).toInt();
    const auto found = m_kernel.events.find(event);
    if (found == m_kernel.events.end()) {
        failure = OpenFailure::gone;
        return nullptr;
    }
    if (found->second.denied) {
        failure = OpenFailure::denied;
        return nullptr;
    }
    failure = OpenFailure::none;
    return std::make_unique<SimulatedHandle>(m_kernel, event, found->second.inputNumber);
}

namespace SimulatedDevices {

SimulatedDevice keyboard(quint32 inputNumber) {
    SimulatedDevice device;
    device.inputNumber = inputNumber;
    for (unsigned code : {KEY_Q,       KEY_W, KEY_E,  KEY_R,   KEY_T,   KEY_Y,
                          KEY_U,       KEY_I, KEY_O,  KEY_P,   KEY_A,   KEY_S,
                          KEY_D,       KEY_F, KEY_G,  KEY_H,   KEY_J,   KEY_K,
                          KEY_L,       KEY_Z, KEY_X,  KEY_C,   KEY_V,   KEY_B,
                          KEY_N,       KEY_M, KEY_F5, KEY_F15, KEY_F20, KEY_VOICECOMMAND,
                          KEY_VOLUMEUP})
        device.keys.insert(code);
    device.keymap = hidKeymap({keyboardPage | 0x04, keyboardPage | 0x3E, keyboardPage | 0x6A,
                               keyboardPage | 0x6F, consumerPage | 0xCF, consumerPage | 0xE9});
    return device;
}

SimulatedDevice consumerControl(quint32 inputNumber) {
    SimulatedDevice device;
    device.inputNumber = inputNumber;
    device.keys = {KEY_VOICECOMMAND, KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE};
    device.keymap = hidKeymap(
        {consumerPage | 0xCF, consumerPage | 0xE9, consumerPage | 0xEA, consumerPage | 0xE2});
    return device;
}

void plugSplitKeyboard(SimulatedKernel& kernel, quint32 keyboardNumber, quint32 consumerNumber) {
    const QString hid = QStringLiteral("0003:05AC:%1").arg(keyboardNumber);
    SimulatedDevice keys = keyboard(keyboardNumber);
    keys.keys.erase(KEY_VOICECOMMAND);
    keys.keys.erase(KEY_VOLUMEUP);
    keys.hidDevice = hid;
    SimulatedDevice consumer = consumerControl(consumerNumber);
    consumer.keymap = keys.keymap; // never used: the keyboard node holds the keymap
    consumer.hidDevice = hid;
    kernel.plug(keys);
    kernel.plug(consumer);
}

SimulatedDevice mouse(quint32 inputNumber) {
    SimulatedDevice device;
    device.inputNumber = inputNumber;
    device.keys = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
    return device;
}

SimulatedDevice builtInKeyboard(quint32 inputNumber) {
    SimulatedDevice device = keyboard(inputNumber);
    device.keymap = {{0x1C, KEY_A}, {0x3F, KEY_F5}, {0xE0, KEY_MICMUTE}};
    return device;
}

} // namespace SimulatedDevices
