#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;
using Ownership = MicrophoneKey::Ownership;

namespace {

const QString notConfirmed = QStringLiteral(
    "The system did not confirm the microphone mapping. Use Ctrl+Alt+Space to record.");

// A stored value written as JSON, as the settings file holds it, with MIC, F5, F15
// and F19 standing for the usages in decimal.
QVariant json(QByteArray text) {
    text.replace("MIC", "51539607759").replace("F5", "30064771134");
    return QJsonDocument::fromJson(text.replace("F15", "30064771178").replace("F19", "30064771182"))
        .toVariant();
}

// Keyboard 10 and the two nodes of keyboard 12, a mouse, and the settings, seen
// through the evdev store over the simulated kernel; another program may act just
// before each of our writes.
struct Keyboards : KeyboardMappingStore {
    Keyboards() {
        kernel.plug(SimulatedDevices::keyboard(10));
        kernel.plug(SimulatedDevices::mouse(11));
        SimulatedDevices::plugSplitKeyboard(kernel, 12, 13);
    }
    MicrophoneKey key() {
        return MicrophoneKey(defaults, *this, [] { return QStringLiteral("boot-1"); });
    }
    QList<DeviceMapping> read() override { return hid.read(); }
    void write(const QString& id, const MappingList& mappings,
               const MappingList& replacing) override {
        if (beforeWrite)
            beforeWrite(id);
        hid.write(id, mappings, replacing);
    }

    std::unique_ptr<SimulatedInputDevices> devices = std::make_unique<SimulatedInputDevices>();
    SimulatedInputDevices& kernel = *devices;
    HIDKeyboardMappingStore hid{std::move(devices)};
    MemoryUserDefaults defaults;
    std::function<void(const QString&)> beforeWrite;
};

const QVariant f19On10And12 = json(R"({"boot": "boot-1", "mappings": {
    "10": [{"source": "MIC", "destination": "F19"}], "12": [{"source": "MIC", "destination": "F19"}]}})");

// Found by a fault sweep over every store call: another program's change between
// our read and our write was overwritten. A change beside our key survives the
// write and its undo; a change of the key itself refuses the write.
TEST(MicrophoneKey, AnotherProgramsChangeDuringEnableIsNeverOverwritten) {
    for (const quint64 usage : {f5, micKey}) {
        Keyboards k;
        k.beforeWrite = [&k, usage](const QString&) { k.kernel.keyCode(10, usage) = KEY_M; };
        EXPECT_EQ(thrownBy([&] { k.key().enable(); }),
                  usage == f5 ? notConfirmed : KeyboardMappingStore::mappingsChanged);
        EXPECT_EQ(k.hid.read().value(0).mappings, (MappingList{{usage, 0x700000010}}));
        EXPECT_FALSE(k.key().ownsMapping());
    }
}

// Each way enable() can fail leaves every keyboard as it was and nothing recorded.
TEST(MicrophoneKey, AFailedEnableChangesNothing) {
    const std::pair<void (*)(Keyboards&), QString> cases[] = {
        {[](Keyboards& k) { k.kernel.keyCode(12, micKey) = KEY_A; },
         "The microphone key already has a custom mapping. Disable that mapping first; Wispen "
         "has left it intact."},
        {[](Keyboards& k) {
             k.kernel.events.clear();
             k.kernel.plug(SimulatedDevices::remoteControl(1));
             k.kernel.plug(SimulatedDevices::mouse(2));
         },
         "No supported keyboard services are available. Use Ctrl+Alt+Space to record."},
        {[](Keyboards& k) { k.kernel.device(12)->dropWrites = 1; }, notConfirmed},
        {[](Keyboards& k) { k.kernel.device(12)->refuseWrites = 1; }, couldNotChange},
        // Found by the fault sweep: the record must be kept before a keyboard is touched.
        {[](Keyboards& k) { k.defaults.refuseWrites = true; }, MicrophoneKey::recordNotSaved},
    };
    for (const auto& [setUp, error] : cases) {
        SCOPED_TRACE(error.toStdString());
        Keyboards k;
        setUp(k);
        const QList<DeviceMapping> before = k.hid.read();
        EXPECT_EQ(thrownBy([&] { k.key().enable(); }), error);
        EXPECT_EQ(k.hid.read(), before);
        EXPECT_FALSE(k.key().ownsMapping());
        EXPECT_EQ(k.key().owners(before, "boot-1"), Ownership{});
    }
}

// A failed restore says so and leaves a record that a later disable() finishes, the
// older version's entry it replaced included.
TEST(MicrophoneKey, ARollbackThatCannotFinishSaysSoAndKeepsTheRecord) {
    Keyboards k;
    const QList<DeviceMapping> before = k.hid.read();
    k.kernel.keyCode(10, micKey) = KEY_F15;
    k.defaults.setValue(MicrophoneKey::ownershipKey, true); // the oldest record: the flag alone
    k.kernel.device(12)->refuseWrites = 1;
    // Keyboard 10 then refuses the write that would restore it.
    k.beforeWrite = [&k](const QString& id) {
        k.kernel.device(10)->refuseWrites = id == "10" && k.kernel.keyCode(10, micKey) == KEY_F19;
    };
    EXPECT_EQ(thrownBy([&] { k.key().enable(); }),
              "Microphone-key setup could not finish restoring its changes. Restart Wispen to "
              "retry recovery. Ctrl+Alt+Space still works.");
    k.beforeWrite = nullptr;
    EXPECT_EQ(k.kernel.keyCode(10, micKey), unsigned(KEY_F19));
    EXPECT_EQ(k.defaults.value(MicrophoneKey::deviceOwnershipKey), f19On10And12);
    k.key().disable();
    EXPECT_EQ(k.hid.read(), before);
    EXPECT_FALSE(k.key().ownsMapping());
}

// What the stored record says we own, read in order: the mappings, the older
// entries, the older device list, and from the oldest version the flag alone.
TEST(MicrophoneKey, ReadsTheOwnershipRecord) {
    EXPECT_EQ(MicrophoneKey::currentBootSession().size(), 36); // the kernel's boot id
    Keyboards k;
    const QList<DeviceMapping> devices = {{"1", {{f5, 0x700000004}, {micKey, f15}}}};
    const QByteArray older = R"("entries": {"2": ["MIC", "F5", "F19", "x"], "3": ["x"]},
                                "devices": ["4", "4", "5"]})";
    const std::pair<QByteArray, Ownership> cases[] = {
        {R"({"boot": "boot-0", "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})", {}},
        // Pairs that are not ours are skipped; a leading + is still a decimal.
        {R"({"boot": "boot-1", "mappings": {"1": [
            {"source": "MIC", "destination": "F5"}, {"source": "F19", "destination": "F19"},
            {"source": "F5", "destination": "F15"}, {"source": "+MIC", "destination": "F19"},
            {"source": "x", "destination": "F19"}], "2": [{"source": "MIC"}]}, )" +
             older,
         {{"1", {{f5, f15}, {micKey, f19}}}}},
        // Malformed mappings: the entries count; malformed entries: the devices.
        {R"({"boot": "boot-1", "mappings": {"1": [{"source": 5}]}, )" + older,
         {{"2", {{f5, f15}, {micKey, f15}}}}},
        {R"({"boot": "boot-1", "mappings": "x", "entries": {"2": "MIC"}, "devices": ["4", "5"]})",
         {{"4", {{micKey, f15}}}, {"5", {{micKey, f15}}}}},
        {"null", {{"1", {{micKey, f15}}}}},
    };
    for (const auto& [record, expected] : cases) {
        k.defaults.setValue(MicrophoneKey::ownershipKey, true);
        k.defaults.setValue(MicrophoneKey::deviceOwnershipKey, json(record));
        EXPECT_EQ(k.key().owners(devices, "boot-1"), expected) << record.constData();
    }
}

} // namespace
