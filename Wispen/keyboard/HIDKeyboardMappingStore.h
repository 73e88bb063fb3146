#pragma once

#include "InputDevices.h"
#include "KeyboardMappingStore.h"

#include <memory>

// The mapping store over Linux input devices. A device's mapping list holds one
// entry for each usage we know (F5, F15, F19, the microphone key) whose key code
// differs from the kernel's default, read and written through the device's keymap.
// Every call asks the devices afresh. Where the user may not open them, it asks
// through `privileged` instead (the keymap helper), from then on.
class HIDKeyboardMappingStore final : public KeyboardMappingStore {
public:
    // Over the real devices, or through wispen-keymap-helper.
    HIDKeyboardMappingStore();
    explicit HIDKeyboardMappingStore(std::unique_ptr<InputDevices> devices,
                                     std::unique_ptr<InputDevices> privileged = nullptr);
    ~HIDKeyboardMappingStore() override;

    // The usages whose key codes make up a mapping list, in list order. The
    // microphone key comes last, so a list with our entry appended reads back the same.
    static const QList<quint64>& knownUsages();

    // What a node's advertised keys make it: a keyboard has every letter, a consumer
    // control any consumer key.
    struct Kind {
        bool keyboard = false;
        bool consumer = false;
    };
    static Kind kindOf(const InputDevice& device);

    QList<DeviceMapping> read() override;
    void write(const QString& deviceID, const MicrophoneMapping::MappingList& mappings,
               const MicrophoneMapping::MappingList& replacing) override;

private:
    template <typename Operation> auto withAccess(Operation operation);
    QList<DeviceMapping> readFrom(InputDevices& devices);
    void writeTo(InputDevices& devices, const QString& deviceID,
                 const MicrophoneMapping::MappingList& mappings,
                 const MicrophoneMapping::MappingList& replacing);

    std::unique_ptr<InputDevices> m_devices;
    std::unique_ptr<InputDevices> m_privileged;
    bool m_usePrivileged = false;
};
