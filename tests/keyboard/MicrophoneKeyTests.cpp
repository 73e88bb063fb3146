#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using Ownership = MicrophoneKey::Ownership;

namespace {

// A stored value written as JSON, as the settings file holds it, with MIC, F5, F15
// and F19 standing for the usages in decimal.
QVariant json(QByteArray text) {
    text.replace("MIC", "51539607759").replace("F5", "30064771134");
    text.replace("F15", "30064771178").replace("F19", "30064771182");
    return QJsonDocument::fromJson(text).toVariant();
}

class MicrophoneKeyTest : public ::testing::Test {
protected:
    MicrophoneKey key() {
        return MicrophoneKey(defaults, store, [this] {
            if (boot.isEmpty())
                throw ZedazidEdize::message(unknownSession);
            return boot;
        });
    }
    QVariantMap record() const { return defaults.value(MicrophoneKey::deviceOwnershipKey).toMap(); }
    // A record naming our F19 entry on each of the keyboards.
    QVariantMap recordOfF19On(const QStringList& ids) const {
        QVariantMap mappings;
        for (const QString& id : ids)
            mappings.insert(id, json(R"([{"source": "MIC", "destination": "F19"}])"));
        return {{"boot", boot}, {"mappings", mappings}};
    }
    unsigned mic(quint32 device) { return kernel.keyCode(device, micKey); }

    const QString unknownSession = QStringLiteral(
        "Cannot identify the current keyboard session. Use Ctrl+Alt+Space to record.");
    SimulatedKernel kernel;
    HIDKeyboardMappingStore store{std::make_unique<SimulatedInputDevices>(kernel)};
    MemoryUserDefaults defaults;
    QString boot = QStringLiteral("boot-1");
};

TEST_F(MicrophoneKeyTest, EnableMapsEveryKeyboardOnceAndRecordsItAndDisableUndoesIt) {
    kernel.plug(SimulatedDevices::keyboard(3));
    kernel.plug(SimulatedDevices::mouse(4));
    SimulatedDevices::plugSplitKeyboard(kernel, 7, 8);
    key().enable();
    // One write per keyboard: the two nodes of keyboard 7 share its keymap.
    EXPECT_EQ(kernel.keymapWrites, 2);
    EXPECT_EQ(mic(3), unsigned(KEY_F19));
    EXPECT_EQ(mic(8), unsigned(KEY_F19));
    EXPECT_EQ(record(), recordOfF19On({"3", "7"}));
    EXPECT_TRUE(key().ownsMapping());

    // Again in the same boot session: nothing to write, the record stays.
    key().enable();
    EXPECT_EQ(kernel.keymapWrites, 2);
    EXPECT_EQ(record(), recordOfF19On({"3", "7"}));

    key().disable();
    EXPECT_EQ(mic(3), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(mic(8), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
    EXPECT_EQ(record(), recordOfF19On({}));
    // Without ownership, disable touches no device.
    kernel.keymapReads = 0;
    key().disable();
    EXPECT_EQ(kernel.keymapReads, 0);
}

// Each way enable() can fail leaves every keyboard as it was and nothing recorded.
TEST_F(MicrophoneKeyTest, AFailedEnableChangesNothing) {
    const QString alreadyMapped = QStringLiteral(
        "The microphone key already has a custom mapping. Disable that mapping first; "
        "Wispen has left it intact.");
    const QString noKeyboards = QStringLiteral(
        "No supported keyboard services are available. Use Ctrl+Alt+Space to record.");
    const QString notConfirmed = QStringLiteral(
        "The system did not confirm the microphone mapping. Use Ctrl+Alt+Space to record.");
    const struct {
        const char* what;
        std::function<void()> setUp;
        QString error;
    } cases[] = {
        {"another program's mapping", [&] { kernel.keyCode(1, micKey) = KEY_A; }, alreadyMapped},
        // Our entry would have to come first, which a keymap with one key code per
        // usage cannot hold.
        {"another program's F15", [&] { kernel.keyCode(1, micKey) = KEY_F15; }, couldNotChange},
        {"no keyboards",
         [&] {
             kernel.events.clear();
             kernel.plug(SimulatedDevices::mouse(1));
             kernel.plug(SimulatedDevices::builtInKeyboard(2));
         },
         noKeyboards},
        {"the second keyboard refuses", [&] { kernel.device(2)->refuseWrites = 1; },
         couldNotChange},
        {"a write not applied", [&] { kernel.device(2)->dropWrites = 1; }, notConfirmed},
        {"an unknown boot session", [&] { boot.clear(); }, unknownSession},
        {"settings that cannot be kept", [&] { defaults.refuseWrites = true; },
         MicrophoneKey::recordNotSaved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kernel = SimulatedKernel();
        defaults = MemoryUserDefaults();
        boot = "boot-1";
        kernel.plug(SimulatedDevices::keyboard(1));
        kernel.plug(SimulatedDevices::keyboard(2));
        c.setUp();
        const QList<DeviceMapping> before = store.read();
        EXPECT_EQ(thrownBy([&] { key().enable(); }), c.error);
        EXPECT_EQ(store.read(), before);
        EXPECT_FALSE(key().ownsMapping());
        EXPECT_EQ(key().owners(before, "boot-1"), Ownership{});
        if (c.error != couldNotChange && c.error != notConfirmed) {
            EXPECT_EQ(kernel.keymapWrites, 0);
        }
    }
}

TEST_F(MicrophoneKeyTest, ARollbackThatCannotFinishSaysSoAndKeepsTheRecord) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    kernel.device(2)->refuseWrites = 1;
    // The first keyboard refuses the write that would restore it.
    kernel.beforeKeymapCall = [&] {
        if (kernel.device(1)->keymap.at(*HIDUsages::scancode(micKey)) == KEY_F19 &&
            kernel.device(2)->refuseWrites == 0)
            kernel.device(1)->refuseWrites = 1;
    };
    EXPECT_EQ(thrownBy([&] { key().enable(); }),
              "Microphone-key setup could not finish restoring its changes. Restart Wispen to "
              "retry recovery. Ctrl+Alt+Space still works.");
    kernel.beforeKeymapCall = nullptr;
    kernel.device(1)->refuseWrites = 0;
    EXPECT_EQ(mic(1), unsigned(KEY_F19));
    // Restoring stopped at the first keyboard: both stay recorded.
    EXPECT_EQ(record(), recordOfF19On({"1", "2"}));
    // The next disable retries.
    key().disable();
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST_F(MicrophoneKeyTest, DisableForgetsUnpluggedKeyboardsAndKeepsTheOnesItCouldNotRestore) {
    for (quint32 number : {1, 2, 3})
        kernel.plug(SimulatedDevices::keyboard(number));
    key().enable();
    kernel.unplug(3);
    kernel.device(2)->refuseWrites = 1;
    EXPECT_EQ(thrownBy([&] { key().disable(); }), couldNotChange);
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    // A keyboard stays recorded until its restore is confirmed, an unplugged one too.
    EXPECT_EQ(record(), recordOfF19On({"2", "3"}));
    EXPECT_TRUE(key().ownsMapping());
    key().disable();
    EXPECT_EQ(mic(2), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
    EXPECT_EQ(record(), recordOfF19On({}));
}

TEST_F(MicrophoneKeyTest, ReadsTheBootSessionFromTheKernelsBootId) {
    const QString id = MicrophoneKey::currentBootSession();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(MicrophoneKey::currentBootSession(), id);

    QTemporaryDir dir;
    const QString path = dir.filePath("boot_id");
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(path); }), unknownSession);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("\n") && file.flush());
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(path); }), unknownSession);
    file.write("6f9d0c1e-2b3a-4c5d-8e7f-0a1b2c3d4e5f\n");
    file.close();
    EXPECT_EQ(MicrophoneKey::readBootSession(path), "6f9d0c1e-2b3a-4c5d-8e7f-0a1b2c3d4e5f");
}

// What the stored record says we own, read in order: the mappings, the older
// entries, the older device list, and with no record at all the flag.
TEST_F(MicrophoneKeyTest, ReadsTheOwnershipRecord) {
    const QList<DeviceMapping> devices = {{"1", {{f5, 0x700000004}, {micKey, f15}}},
                                          {"2", {{micKey, f19}}}};
    const QByteArray older = R"("entries": {"2": ["MIC", "F5", "F19", "x"], "3": ["x"]},
                                "devices": ["4", "4", "5"])";
    const Ownership f15On1{{"1", {{micKey, f15}}}};
    const Ownership f19On1{{"1", {{micKey, f19}}}};
    const struct {
        bool flag;
        QByteArray record;
        Ownership expected;
    } cases[] = {
        {false, "", {}},
        {true, "", f15On1}, // the flag alone: our F15 entries on sight
        {true, R"("junk")", f15On1},
        {true,
         R"({"boot": "boot-0", "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})",
         {}},
        {true, R"({"boot": 7, "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})", {}},
        {true, R"({"mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})", {}},
        {true,
         R"({"boot": "boot-1", "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}, )" +
             older + "}",
         f19On1},
        // Pairs that are not ours are skipped; a leading + is still a decimal.
        {true,
         R"({"boot": "boot-1", "mappings": {"1": [
            {"source": "MIC", "destination": "F5"}, {"source": "F19", "destination": "F19"},
            {"source": "F5", "destination": "F15"}, {"source": "+MIC", "destination": "F19"},
            {"source": "MIC"}, {"source": "x", "destination": "F19"}],
            "2": [{"source": "MIC", "destination": ""}]}})",
         {{"1", {{f5, f15}, {micKey, f19}}}}},
        // Malformed mappings: the entries count; malformed entries: the devices.
        {true,
         R"({"boot": "boot-1", "mappings": {"1": [{"source": 5, "destination": "F19"}]}, )" +
             older + "}",
         {{"2", {{f5, f15}, {micKey, f15}}}}},
        {true,
         R"({"boot": "boot-1", "mappings": "x", "entries": {"2": "MIC"}, "devices": ["4", "4", "5"]})",
         {{"4", {{micKey, f15}}}, {"5", {{micKey, f15}}}}},
        {true, R"({"boot": "boot-1", "devices": ["4", 5]})", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record.constData());
        defaults = MemoryUserDefaults();
        defaults.setValue(MicrophoneKey::ownershipKey, c.flag);
        if (!c.record.isEmpty())
            defaults.setValue(MicrophoneKey::deviceOwnershipKey, json(c.record));
        EXPECT_EQ(key().owners(devices, boot), c.expected);
    }
}

TEST_F(MicrophoneKeyTest, SavesSortedDecimalPairsAndTheFlag) {
    auto k = key();
    k.save({{"1", {{micKey, f19}, {f5, f15}, {micKey, f15}}}, {"2", {}}}, boot);
    EXPECT_EQ(QVariant(record()), json(R"({"boot": "boot-1", "mappings": {"1": [
        {"source": "F5", "destination": "F15"}, {"source": "MIC", "destination": "F15"},
        {"source": "MIC", "destination": "F19"}]}})"));
    EXPECT_TRUE(k.ownsMapping());
    k.save({}, boot);
    EXPECT_EQ(record(), recordOfF19On({}));
    EXPECT_EQ(defaults.value(MicrophoneKey::ownershipKey), QVariant(false));
}

} // namespace
