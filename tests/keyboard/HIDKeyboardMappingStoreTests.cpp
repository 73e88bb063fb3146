#include "KeyboardTestSupport.h"
#include "LinuxInputDevices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using MicrophoneMapping::Entry;
using MicrophoneMapping::MappingList;

namespace {

constexpr quint64 micKey = MicrophoneMapping::source;
constexpr quint64 f5 = MicrophoneMapping::keyboardF5;
constexpr quint64 f15 = MicrophoneMapping::legacyDestination;
constexpr quint64 f20 = MicrophoneMapping::destination;
constexpr quint64 letterA = 0x700000004;

class StoreTest : public ::testing::Test {
protected:
    // Writes over what the device holds now, as a caller that has just read it.
    void write(const QString& id, const MappingList& list) {
        MappingList now;
        for (const DeviceMapping& device : store.read()) {
            if (device.id == id)
                now = device.mappings;
        }
        store.write(id, list, now);
    }

    SimulatedKernel kernel;
    HIDKeyboardMappingStore store{std::make_unique<SimulatedInputDevices>(kernel)};
};

TEST_F(StoreTest, ListsEveryDeviceInKernelOrderWithWhatMayBeRemapped) {
    kernel.plug(SimulatedDevices::keyboard(7));
    kernel.plug(SimulatedDevices::mouse(3));
    kernel.plug(SimulatedDevices::consumerControl(12));
    kernel.plug(SimulatedDevices::builtInKeyboard(1));
    const QList<DeviceMapping> devices = store.read();
    EXPECT_EQ(devices,
              (QList<DeviceMapping>{
                  {"7", {}, {micKey}}, {"3", {}, {}}, {"12", {}, {micKey}}, {"1", {}, {}}}));
}

TEST_F(StoreTest, ListsTheNodesOfOneHIDDeviceOnceBecauseTheyShareAKeymap) {
    kernel.plug(SimulatedDevices::mouse(3));
    SimulatedDevices::plugSplitKeyboard(kernel, 20, 21);
    EXPECT_EQ(store.read(), (QList<DeviceMapping>{{"3", {}, {}}, {"20", {}, {micKey}}}));
    write("20", {{micKey, f20}});
    EXPECT_EQ(store.read().value(1).mappings, (MappingList{{micKey, f20}}));
    EXPECT_EQ(thrownBy([&] { write("21", {}); }), disconnected);
}

TEST_F(StoreTest, ListsKeyCodesThatDifferFromTheDefaultAsEntries) {
    kernel.plug(SimulatedDevices::keyboard(4));
    setKeyCode(kernel, 4, micKey, KEY_F20);
    setKeyCode(kernel, 4, f5, KEY_A);
    EXPECT_EQ(store.read().value(0).mappings, (MappingList{{f5, letterA}, {micKey, f20}}));

    // A key code without a standard usage appears on the vendor page, so it still
    // counts as someone's mapping.
    setKeyCode(kernel, 4, micKey, KEY_MACRO1);
    EXPECT_EQ(store.read().value(0).mappings,
              (MappingList{{f5, letterA}, {micKey, 0xFF0000000000ull | KEY_MACRO1}}));
}

TEST_F(StoreTest, RefusesToListWhenADeviceMayNotBeOpened) {
    SimulatedDevice mouse = SimulatedDevices::mouse(2);
    mouse.denied = true;
    kernel.plug(mouse);
    kernel.plug(SimulatedDevices::keyboard(1));
    EXPECT_EQ(thrownBy([&] { store.read(); }), cannotReadDevices);
    EXPECT_EQ(thrownBy([&] { write("1", {}); }), cannotReadDevices);
    kernel.listingFails = true;
    EXPECT_EQ(thrownBy([&] { store.read(); }), cannotReadDevices);
}

TEST_F(StoreTest, LeavesOutADeviceThatVanishesWhileBeingRead) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    kernel.beforeKeymapCall = [&] {
        if (kernel.keymapReads == 6)
            kernel.unplug(2);
    };
    const QList<DeviceMapping> devices = store.read();
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id, "1");
}

TEST_F(StoreTest, WritesEachKnownUsageToItsEntryOrBackToItsDefault) {
    kernel.plug(SimulatedDevices::keyboard(5));
    setKeyCode(kernel, 5, f5, KEY_A);
    write("5", {{micKey, f20}, {f15, 0xFF0000000000ull | KEY_MACRO1}});
    EXPECT_EQ(keyCode(kernel, 5, micKey), unsigned(KEY_F20));
    EXPECT_EQ(keyCode(kernel, 5, f15), unsigned(KEY_MACRO1));
    EXPECT_EQ(keyCode(kernel, 5, f5), unsigned(KEY_F5));
    EXPECT_EQ(store.read().value(0).mappings,
              (MappingList{{f15, 0xFF0000000000ull | KEY_MACRO1}, {micKey, f20}}));
    write("5", {});
    EXPECT_EQ(store.read().value(0).mappings, MappingList{});
}

TEST_F(StoreTest, ComparesRegistryIdsAsDecimalText) {
    kernel.plug(SimulatedDevices::keyboard(7));
    EXPECT_EQ(thrownBy([&] { write("07", {{micKey, f20}}); }), disconnected);
    EXPECT_EQ(thrownBy([&] { write("8", {{micKey, f20}}); }), disconnected);
    EXPECT_EQ(keyCode(kernel, 7, micKey), unsigned(KEY_VOICECOMMAND));
}

TEST_F(StoreTest, RefusesAListTheKeymapCannotHoldAndWritesNothing) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::consumerControl(2));
    const QList<MappingList> refused = {
        {{micKey, f20}, {micKey, f15}},          // one key code per usage
        {{0x700000039, f20}},                    // Caps Lock is not a usage we write
        {{micKey, 0x0900000001}},                // a destination without a key code
        {{micKey, 0xFF0000000000ull | 0x10000}}, // beyond the highest key code
    };
    for (const MappingList& list : refused)
        EXPECT_EQ(thrownBy([&] { write("1", list); }), couldNotChange);
    // The consumer control has no F5.
    EXPECT_EQ(thrownBy([&] { write("2", {{f5, f20}}); }), couldNotChange);
    EXPECT_EQ(kernel.keymapWrites, 0);
}

TEST_F(StoreTest, PutsBackWhatItChangedWhenTheKernelRefusesAWrite) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.device(1)->refuseWrites = 0;
    // F5 is written before the microphone key; the second write fails.
    kernel.beforeKeymapCall = [&] {
        if (kernel.keymapWrites == 1)
            kernel.device(1)->refuseWrites = 1;
    };
    EXPECT_EQ(thrownBy([&] { write("1", {{f5, letterA}, {micKey, f20}}); }), couldNotChange);
    kernel.beforeKeymapCall = nullptr;
    EXPECT_EQ(store.read().value(0).mappings, MappingList{});
}

TEST_F(StoreTest, WritesOnlyWhatChangesAndOnlyOverWhatWasRead) {
    kernel.plug(SimulatedDevices::keyboard(1));
    const MappingList read = store.read().value(0).mappings;
    // Another program maps F5 after our read: our write leaves it alone.
    setKeyCode(kernel, 1, f5, KEY_A);
    store.write("1", {{micKey, f20}}, read);
    EXPECT_EQ(store.read().value(0).mappings, (MappingList{{f5, letterA}, {micKey, f20}}));
    // Another program takes the microphone key after our read: our write is refused.
    setKeyCode(kernel, 1, micKey, KEY_M);
    EXPECT_EQ(thrownBy([&] {
                  store.write("1", {{f5, letterA}}, {{f5, letterA}, {micKey, f20}});
              }),
              KeyboardMappingStore::mappingsChanged);
    EXPECT_EQ(keyCode(kernel, 1, micKey), unsigned(KEY_M));
}

TEST_F(StoreTest, ReportsADeviceThatVanishesDuringAWrite) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.beforeKeymapCall = [&] {
        if (kernel.keymapWrites == 0 && kernel.keymapReads == 8)
            kernel.unplug(1);
    };
    EXPECT_EQ(thrownBy([&] { write("1", {{micKey, f20}}); }), disconnected);
}

TEST(HIDUsages, TranslatesBetweenUsagesAndKeyCodes) {
    EXPECT_EQ(HIDUsages::defaultKeyCode(MicrophoneMapping::source), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(HIDUsages::defaultKeyCode(f5), unsigned(KEY_F5));
    EXPECT_EQ(HIDUsages::defaultKeyCode(f15), unsigned(KEY_F15));
    EXPECT_EQ(HIDUsages::defaultKeyCode(f20), unsigned(KEY_F20));
    EXPECT_EQ(HIDUsages::usageForKeyCode(KEY_F24), 0x700000073u);
    // Two usages produce Delete; the first one stands for it.
    EXPECT_EQ(HIDUsages::usageForKeyCode(KEY_DELETE), 0x70000004Cu);
    EXPECT_EQ(HIDUsages::keyCodeForUsage(0x7000000D8), unsigned(KEY_DELETE));
    EXPECT_EQ(HIDUsages::scancode(MicrophoneMapping::source), 0x000C00CFu);
    EXPECT_EQ(HIDUsages::scancode(0x1000000000001), std::nullopt);
    for (unsigned code = 0; code <= KEY_MAX; ++code)
        EXPECT_EQ(HIDUsages::keyCodeForUsage(HIDUsages::usageForKeyCode(code)), code);
}

// The real devices, over folders laid out like /dev/input and /sys/class/input.
TEST(LinuxInputDevices, ListsEventNodesInNumericOrderAndFindsTheirInputNumber) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QDir dir(root.path());
    dir.mkpath("dev");
    dir.mkpath("sys/event10");
    dir.mkpath("sys/devices/input42");
    for (const char* name : {"dev/event10", "dev/event2", "dev/mouse0"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(
        QFile::link(dir.filePath("sys/devices/input42"), dir.filePath("sys/event10/device")));

    LinuxInputDevices devices(dir.filePath("dev"), dir.filePath("sys"));
    EXPECT_EQ(devices.nodes(),
              (QStringList{dir.filePath("dev/event2"), dir.filePath("dev/event10")}));

    InputDevices::OpenFailure failure = InputDevices::OpenFailure::none;
    auto device = devices.open(dir.filePath("dev/event10"), failure);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->inputNumber(), 42u);
    unsigned code = 0;
    // A file that is not an input device answers no keymap request.
    EXPECT_EQ(device->keyCode(0x000C00CF, code), InputDevice::Status::failed);
    EXPECT_FALSE(device->hasKey(KEY_A));
    EXPECT_EQ(devices.open(dir.filePath("dev/event2"), failure)->inputNumber(), std::nullopt);

    EXPECT_FALSE(devices.open(dir.filePath("dev/event99"), failure));
    EXPECT_EQ(failure, InputDevices::OpenFailure::gone);

    EXPECT_EQ(LinuxInputDevices(dir.filePath("none")).nodes(), QStringList{});
}

} // namespace
