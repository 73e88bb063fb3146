#pragma once

#include "InputDevices.h"
#include "KeyboardMappingStore.h"

#include <memory>

// The mapping store over Linux input devices. A device's mapping list holds one
// entry for each usage we know (F5, F15, F19, the microphone key) whose key code
// differs from the kernel's default, read and written through the device's keymap.
// It keeps no state: every call asks the devices afresh.
class HIDKeyboardMappingStore final : public KeyboardMappingStore {
public:
    // Over the real devices.
    HIDKeyboardMappingStore();
    explicit HIDKeyboardMappingStore(std::unique_ptr<InputDevices> devices);
    ~HIDKeyboardMappingStore() override;

    // The usages whose key codes make up a mapping list, in list order. The
    // microphone key comes last, so a list with our entry appended reads back the same.
    static const QList<quint64>& knownUsages();

    QList<DeviceMapping> read() override;
    void write(const QString& deviceID, const MicrophoneMapping::MappingList& mappings,
               const MicrophoneMapping::MappingList& replacing) override;

private:
    QStringList listNodes();
    std::unique_ptr<InputDevice> open(const QString& node);

    std::unique_ptr<InputDevices> m_devices;
};
