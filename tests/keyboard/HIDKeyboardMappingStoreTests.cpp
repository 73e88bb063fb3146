// The evdev mapping store over a simulated kernel, directly and through the keymap
// helper.
#include "HelperInputDevices.h"
#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;

namespace {

constexpr quint64 letterA = 0x700000004;
constexpr quint64 vendorMacro1 = 0xFF0000000000ull | KEY_MACRO1;

class StoreTest : public ::testing::Test {
protected:
    // Writes over what the device holds now, as a caller that has just read it.
    void write(const QString& id, const MappingList& list) {
        MappingList now;
        for (const DeviceMapping& device : store.read())
            now = device.id == id ? device.mappings : now;
        store.write(id, list, now);
    }
    MappingList mappings() { return store.read().value(0).mappings; }

    std::unique_ptr<SimulatedInputDevices> devices = std::make_unique<SimulatedInputDevices>();
    SimulatedInputDevices& kernel = *devices;
    HIDKeyboardMappingStore store{std::move(devices)};
};

// A remote control answers KEY_RESERVED for every scancode and once looked like a
// keyboard with custom mappings; the two nodes of one HID keyboard share a keymap
// and once looked like two keyboards, one changed behind the other's back.
TEST_F(StoreTest, ListsEveryServiceOnceInKernelOrderWithWhatMayBeRemapped) {
    for (const SimulatedDevice& device : {SimulatedDevices::keyboard(7), SimulatedDevices::mouse(3),
                                          SimulatedDevices::remoteControl(5)})
        kernel.plug(device);
    SimulatedDevices::plugSplitKeyboard(kernel, 20, 21);
    const QList<quint64> mic{micKey}, none;
    EXPECT_EQ(
        store.read(),
        (QList<DeviceMapping>{{"7", {}, mic}, {"3", {}, none}, {"5", {}, none}, {"20", {}, mic}}));
    write("20", {{micKey, f19}});
    EXPECT_EQ(kernel.keyCode(21, micKey), unsigned(KEY_F19));
    // Ids are compared as decimal text; the second node of a HID device is no service.
    for (const QString& id : QStringList{"07", "21"})
        EXPECT_EQ(thrownBy([&] { write(id, {}); }),
                  "A keyboard disconnected during setup. Try again.")
            << id.toStdString();
    // A device that may not be opened, without the keymap helper, leaves no partial list.
    kernel.device(3)->denied = true;
    EXPECT_EQ(thrownBy([&] { store.read(); }),
              "Cannot read keyboard devices. Use Ctrl+Alt+Space to record.");
}

TEST_F(StoreTest, ReadsAndWritesKeyCodesThatDifferFromTheDefaultAsEntries) {
    kernel.plug(SimulatedDevices::keyboard(4));
    kernel.keyCode(4, f5) = KEY_A;
    // A key code without a standard usage is on the vendor page: still someone's mapping.
    kernel.keyCode(4, micKey) = KEY_MACRO1;
    EXPECT_EQ(mappings(), (MappingList{{f5, letterA}, {micKey, vendorMacro1}}));
    // Each known usage gets its entry's destination, or goes back to its default.
    write("4", {{f15, vendorMacro1}, {micKey, f19}});
    EXPECT_EQ(mappings(), (MappingList{{f15, vendorMacro1}, {micKey, f19}}));
    EXPECT_EQ(kernel.keyCode(4, f5), unsigned(KEY_F5));
    kernel.keymapWrites = 0;
    // One key code per usage, only usages we write, only destinations with a key code.
    for (const MappingList& refused :
         {MappingList{{micKey, f19}, {micKey, f15}}, MappingList{{0x700000039, f19}},
          MappingList{{micKey, 0x0900000001}}})
        EXPECT_EQ(thrownBy([&] { write("4", refused); }), couldNotChange);
    EXPECT_EQ(kernel.keymapWrites, 0);
    for (unsigned code = 0; code <= KEY_MAX; ++code)
        EXPECT_EQ(HIDUsages::keyCodeForUsage(HIDUsages::usageForKeyCode(code)), code);
}

// Undo on failure: a refused write puts back what the call changed.
TEST_F(StoreTest, PutsBackWhatItChangedWhenTheKernelRefusesAWrite) {
    kernel.plug(SimulatedDevices::keyboard(1));
    // F5 is written before the microphone key; the second write fails.
    kernel.beforeKeymapCall = [&] { kernel.device(1)->refuseWrites = kernel.keymapWrites == 1; };
    EXPECT_EQ(thrownBy([&] { write("1", {{f5, letterA}, {micKey, f19}}); }), couldNotChange);
    kernel.beforeKeymapCall = nullptr;
    EXPECT_EQ(mappings(), MappingList{});
}

// wispen-keymap-helper over a simulated kernel, run as a plain child process
// (SimulatedKeymapHelper.cpp): the remapping carried out through it for a store that
// may not open the devices itself, and the requests it refuses.
TEST(KeymapHelper, CarriesTheRemappingForAStoreDeniedTheDevicesAndNothingElse) {
    auto devices = std::make_unique<SimulatedInputDevices>();
    SimulatedInputDevices& kernel = *devices;
    kernel.plug(SimulatedDevices::keyboard(3));
    kernel.device(3)->denied = true;
    auto helper = std::make_unique<HelperInputDevices>(
        QStringLiteral(WISPEN_SIMULATED_KEYMAP_HELPER), QStringList());
    // 786639 is the microphone key's scancode, 458814 F5's, 458756 the letter A's;
    // 30 is KEY_A and 189 KEY_F19.
    for (const char* request : {"get 3 458756", "set 3 786639 30", "set 3 458814 189"})
        EXPECT_EQ(helper->ask(request), "refused") << request;
    HIDKeyboardMappingStore store(std::move(devices), std::move(helper));
    MemoryUserDefaults defaults;
    MicrophoneKey key(defaults, store, [] { return QStringLiteral("boot"); });
    key.enable();
    EXPECT_EQ(store.read(), (QList<DeviceMapping>{{"3", {{micKey, f19}}, {micKey}},
                                                  {"7", {{micKey, f19}}, {micKey}}}));
    key.disable();
    EXPECT_EQ(store.read().value(1), (DeviceMapping{"7", {}, {micKey}}));
}

} // namespace
