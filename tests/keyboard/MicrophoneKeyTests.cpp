#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;
using Ownership = MicrophoneKey::Ownership;

namespace {

const QString unknownSession =
    QStringLiteral("Cannot identify the current keyboard session. Use Ctrl+Alt+Space to record.");
const QString notConfirmed = QStringLiteral(
    "The system did not confirm the microphone mapping. Use Ctrl+Alt+Space to record.");

// A stored value written as JSON, as the settings file holds it, with MIC, F5, F15
// and F19 standing for the usages in decimal.
QVariant json(QByteArray text) {
    text.replace("MIC", "51539607759").replace("F5", "30064771134");
    text.replace("F15", "30064771178").replace("F19", "30064771182");
    return QJsonDocument::fromJson(text).toVariant();
}

// How a store call can fail: the last two are other programs acting meanwhile.
enum Fault { callFails, writeNotApplied, vanishes, diskFull, otherTakesKey, otherChangesF5 };

// Keyboards 10 and 12 and the settings, seen through the evdev store over the
// simulated kernel, with one fault injected at a chosen store call.
struct Keyboards : KeyboardMappingStore {
    Keyboards() {
        kernel.plug(SimulatedDevices::keyboard(10));
        kernel.plug(SimulatedDevices::mouse(11));
        kernel.plug(SimulatedDevices::keyboard(12));
    }
    MicrophoneKey key() {
        return MicrophoneKey(defaults, *this, [this] {
            if (boot.isEmpty())
                throw ZedazidEdize::message(unknownSession);
            return boot;
        });
    }
    QList<DeviceMapping> read() override {
        strike(10, false);
        return hid.read();
    }
    void write(const QString& id, const MappingList& mappings,
               const MappingList& replacing) override {
        strike(id.toUInt(), true);
        hid.write(id, mappings, replacing);
    }
    void strike(quint32 number, bool isWrite) {
        if (calls++ != faultAt || !kernel.device(number) || (fault == writeNotApplied && !isWrite))
            return;
        if (fault == callFails)
            throw ZedazidEdize::message(couldNotChange);
        if (fault == writeNotApplied)
            kernel.device(number)->dropWrites = 1;
        if (fault == vanishes)
            kernel.unplug(number);
        if (fault == diskFull)
            defaults.refuseWrites = true;
        if (fault == otherTakesKey)
            othersMic[number] = kernel.keyCode(number, micKey) = KEY_M;
        if (fault == otherChangesF5)
            othersF5[number] = kernel.keyCode(number, f5) = KEY_B;
    }
    QVariantMap record() const { return defaults.value(MicrophoneKey::deviceOwnershipKey).toMap(); }
    QVariantMap recordOfF19On(const QStringList& ids) const {
        QVariantMap mappings;
        for (const QString& id : ids)
            mappings.insert(id, json(R"([{"source": "MIC", "destination": "F19"}])"));
        return {{"boot", boot}, {"mappings", mappings}};
    }
    unsigned mic(quint32 number) { return kernel.keyCode(number, micKey); }

    // Other programs' keys are as they left them, and every entry of ours that a
    // keyboard holds is named in the record (after disable(), none is left at all).
    QString unaccounted(bool afterDisable) {
        const Ownership owned = key().owners(hid.read(), boot);
        for (quint32 number : {10, 12}) {
            if (!kernel.device(number))
                continue;
            if (kernel.keyCode(number, f5) != (othersF5.count(number) ? othersF5[number] : KEY_F5))
                return QStringLiteral("another program's F5 was changed");
            if (othersMic.count(number)) {
                if (mic(number) != othersMic[number])
                    return QStringLiteral("another program's key was changed");
            } else if (mic(number) != KEY_VOICECOMMAND &&
                       (afterDisable || !owned.count(QString::number(number)) ||
                        !owned.at(QString::number(number))
                             .count({micKey, HIDUsages::usageForKeyCode(mic(number))}))) {
                return QStringLiteral("keyboard %1 holds an unrecorded entry").arg(number);
            }
        }
        return afterDisable && key().ownsMapping() ? "ownership still claimed" : "";
    }

    SimulatedKernel kernel;
    HIDKeyboardMappingStore hid{std::make_unique<SimulatedInputDevices>(kernel)};
    MemoryUserDefaults defaults;
    QString boot = QStringLiteral("boot-1");
    std::map<quint32, unsigned> othersMic, othersF5;
    int calls = 0;
    int faultAt = -1;
    Fault fault = callFails;
};

class MicrophoneKeyTest : public ::testing::Test, protected Keyboards {};

TEST_F(MicrophoneKeyTest, EnableMapsEveryKeyboardOnceAndRecordsItAndDisableUndoesIt) {
    SimulatedDevices::plugSplitKeyboard(kernel, 7, 8);
    key().enable();
    // One write per keyboard: the two nodes of keyboard 7 share its keymap.
    EXPECT_EQ(kernel.keymapWrites, 3);
    EXPECT_EQ(mic(8), unsigned(KEY_F19));
    EXPECT_EQ(record(), recordOfF19On({"10", "12", "7"}));
    // Again in the same boot session: nothing to write, the record stays.
    key().enable();
    EXPECT_EQ(kernel.keymapWrites, 3);
    key().disable();
    EXPECT_EQ(mic(8), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(mic(10), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
    EXPECT_EQ(record(), recordOfF19On({}));
    // Without ownership, disable touches no device.
    kernel.keymapReads = 0;
    key().disable();
    EXPECT_EQ(kernel.keymapReads, 0);
}

// Each way enable() can fail leaves every keyboard as it was and nothing recorded.
TEST_F(MicrophoneKeyTest, AFailedEnableChangesNothing) {
    const struct {
        const char* what;
        std::function<void()> setUp;
        QString error;
    } cases[] = {
        {"another program's mapping", [&] { kernel.keyCode(12, micKey) = KEY_A; },
         "The microphone key already has a custom mapping. Disable that mapping first; Wispen "
         "has left it intact."},
        // Our entry would have to come first, which one key code per usage cannot hold.
        {"another program's F15", [&] { kernel.keyCode(12, micKey) = KEY_F15; }, couldNotChange},
        {"no keyboards",
         [&] {
             kernel.events.clear();
             kernel.plug(SimulatedDevices::remoteControl(1));
             kernel.plug(SimulatedDevices::builtInKeyboard(2));
         },
         "No supported keyboard services are available. Use Ctrl+Alt+Space to record."},
        {"the second keyboard refuses", [&] { kernel.device(12)->refuseWrites = 1; },
         couldNotChange},
        {"a write not applied", [&] { kernel.device(12)->dropWrites = 1; }, notConfirmed},
        {"an unknown boot session", [&] { boot.clear(); }, unknownSession},
        // Found by the fault sweep: the record must be kept before a keyboard is touched.
        {"settings that cannot be kept", [&] { defaults.refuseWrites = true; },
         MicrophoneKey::recordNotSaved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kernel = SimulatedKernel();
        defaults = MemoryUserDefaults();
        boot = "boot-1";
        kernel.plug(SimulatedDevices::keyboard(10));
        kernel.plug(SimulatedDevices::keyboard(12));
        c.setUp();
        const QList<DeviceMapping> before = hid.read();
        kernel.keymapWrites = 0;
        EXPECT_EQ(thrownBy([&] { key().enable(); }), c.error);
        EXPECT_EQ(hid.read(), before);
        EXPECT_FALSE(key().ownsMapping());
        EXPECT_EQ(key().owners(before, "boot-1"), Ownership{});
        if (c.error != couldNotChange && c.error != notConfirmed) {
            EXPECT_EQ(kernel.keymapWrites, 0);
        }
    }
}

// A crash or a failed restore leaves a record; a later disable() finishes the work.
TEST_F(MicrophoneKeyTest, ARollbackThatCannotFinishSaysSoAndKeepsTheRecord) {
    kernel.device(12)->refuseWrites = 1;
    // The first keyboard refuses the write that would restore it.
    kernel.beforeKeymapCall = [&] {
        if (kernel.device(10)->keymap.at(*HIDUsages::scancode(micKey)) == KEY_F19 &&
            kernel.device(12)->refuseWrites == 0)
            kernel.device(10)->refuseWrites = 1;
    };
    EXPECT_EQ(thrownBy([&] { key().enable(); }),
              "Microphone-key setup could not finish restoring its changes. Restart Wispen to "
              "retry recovery. Ctrl+Alt+Space still works.");
    kernel.beforeKeymapCall = nullptr;
    kernel.device(10)->refuseWrites = 0;
    EXPECT_EQ(mic(10), unsigned(KEY_F19));
    EXPECT_EQ(record(), recordOfF19On({"10", "12"}));
    key().disable();
    EXPECT_EQ(mic(10), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST(MicrophoneKey, ReadsTheBootSessionFromTheKernelsBootId) {
    EXPECT_EQ(MicrophoneKey::currentBootSession().size(), 36);
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
    const struct {
        bool flag;
        QByteArray record;
        Ownership expected;
    } cases[] = {
        {false, "", {}},
        {true, R"("junk")", f15On1}, // the flag alone: our F15 entries on sight
        {true,
         R"({"boot": "boot-0", "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})",
         {}},
        {true, R"({"boot": 7, "mappings": {"1": [{"source": "MIC", "destination": "F19"}]}})", {}},
        // Pairs that are not ours are skipped; a leading + is still a decimal.
        {true,
         R"({"boot": "boot-1", "mappings": {"1": [
            {"source": "MIC", "destination": "F5"}, {"source": "F19", "destination": "F19"},
            {"source": "F5", "destination": "F15"}, {"source": "+MIC", "destination": "F19"},
            {"source": "MIC"}, {"source": "x", "destination": "F19"}],
            "2": [{"source": "MIC", "destination": ""}]}, )" +
             older + "}",
         {{"1", {{f5, f15}, {micKey, f19}}}}},
        // Malformed mappings: the entries count; malformed entries: the devices.
        {true,
         R"({"boot": "boot-1", "mappings": {"1": [{"source": 5}]}, )" + older + "}",
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

// What keyboard 10 holds and the settings say before the operation.
const struct Prior {
    const char* name;
    unsigned mic;
    const char* record;      // as JSON; empty: the flag alone, null: nothing
    bool foreignF15 = false; // another program maps keyboard 12's key to F15
} priors[] = {
    {"nothing", KEY_VOICECOMMAND, nullptr},
    {"owned F19", KEY_F19,
     R"({"boot": "boot-1", "mappings": {"10": [{"source": "MIC", "destination": "F19"}]}})"},
    {"an older version's F15", KEY_F15, ""},
    {"another program's F15", KEY_VOICECOMMAND, nullptr, true},
};

// Fails every store call of enable() and of disable() in turn, in every way, and
// checks that nothing is unaccounted for and that a following disable() restores
// everything. This found other programs' changes being overwritten.
TEST(MicrophoneKeyFaultSweep, EveryInjectedFaultLeavesEverythingAccountedFor) {
    int injected = 0;
    for (const Prior& prior : priors) {
        for (bool enable : {true, false}) {
            for (int at = -1, reached = 1; reached; ++at) {
                reached = 0;
                for (Fault fault : {callFails, writeNotApplied, vanishes, diskFull, otherTakesKey,
                                    otherChangesF5}) {
                    Keyboards k;
                    k.kernel.keyCode(10, micKey) = prior.mic;
                    if (prior.foreignF15)
                        k.othersMic[12] = k.kernel.keyCode(12, micKey) = KEY_F15;
                    k.defaults.setValue(MicrophoneKey::ownershipKey, prior.record != nullptr);
                    if (prior.record && *prior.record)
                        k.defaults.setValue(MicrophoneKey::deviceOwnershipKey, json(prior.record));
                    if (!enable)
                        thrownBy([&] { k.key().enable(); });
                    k.calls = 0;
                    k.faultAt = at;
                    k.fault = fault;
                    thrownBy([&] { enable ? k.key().enable() : k.key().disable(); });
                    if (k.calls <= at)
                        continue;
                    reached = 1;
                    injected += at >= 0;
                    SCOPED_TRACE(testing::Message()
                                 << prior.name << (enable ? ", enable" : ", disable") << ", fault "
                                 << fault << " at call " << at);
                    if (at < 0 && enable && !prior.foreignF15) {
                        EXPECT_EQ(k.mic(10), unsigned(KEY_F19));
                    }
                    EXPECT_EQ(k.unaccounted(false).toStdString(), "");
                    k.faultAt = -1;
                    k.defaults.refuseWrites = false;
                    EXPECT_EQ(thrownBy([&] { k.key().disable(); }).toStdString(),
                              "(nothing thrown)");
                    EXPECT_EQ(k.unaccounted(true).toStdString(), "");
                    if (at < 0)
                        break;
                }
            }
        }
    }
    EXPECT_GT(injected, 300);
}

} // namespace
