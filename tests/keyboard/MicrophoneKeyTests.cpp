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
    return QJsonDocument::fromJson(text.replace("F15", "30064771178").replace("F19", "30064771182"))
        .toVariant();
}

// How a store call can fail; the last two are other programs acting meanwhile.
enum Fault { callFails, writeNotApplied, vanishes, diskFull, otherTakesKey, otherChangesF5 };

// Keyboard 10 and the two nodes of keyboard 12, a mouse, and the settings, seen
// through the evdev store over the simulated kernel, with one fault injected at a
// chosen store call.
struct Keyboards : KeyboardMappingStore {
    Keyboards() {
        kernel.plug(SimulatedDevices::keyboard(10));
        kernel.plug(SimulatedDevices::mouse(11));
        SimulatedDevices::plugSplitKeyboard(kernel, 12, 13);
    }
    MicrophoneKey key() {
        return MicrophoneKey(defaults, *this, [this] {
            return boot.isEmpty() ? throw ZedazidEdize::message(unknownSession) : boot;
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
        kernel.device(number)->dropWrites = fault == writeNotApplied;
        defaults.refuseWrites = fault == diskFull;
        if (fault == vanishes)
            kernel.unplug(number);
        if (fault == otherTakesKey)
            others[{number, micKey}] = kernel.keyCode(number, micKey) = KEY_M;
        if (fault == otherChangesF5)
            others[{number, f5}] = kernel.keyCode(number, f5) = KEY_B;
    }
    QVariantMap record() const { return defaults.value(MicrophoneKey::deviceOwnershipKey).toMap(); }

    // Other programs' keys are as they left them, and every entry of ours that a
    // keyboard holds is named in the record (after disable(), none is left at all).
    QString unaccounted(bool afterDisable) {
        const Ownership owned = key().owners(hid.read(), boot);
        for (quint32 number : {10, 12}) {
            if (!kernel.device(number))
                continue;
            for (quint64 usage : {f5, micKey}) {
                const unsigned code = kernel.keyCode(number, usage);
                const auto other = others.find({number, usage});
                if (other != others.end()
                        ? code != other->second
                        : code != HIDUsages::defaultKeyCode(usage) &&
                              (afterDisable || !owned.count(QString::number(number)) ||
                               !owned.at(QString::number(number))
                                    .count({usage, HIDUsages::usageForKeyCode(code)})))
                    return QStringLiteral("keyboard %1 holds %2 for %3")
                        .arg(number)
                        .arg(code)
                        .arg(usage);
            }
        }
        return afterDisable && key().ownsMapping() ? "ownership still claimed" : "";
    }

    SimulatedKernel kernel;
    HIDKeyboardMappingStore hid{std::make_unique<SimulatedInputDevices>(kernel)};
    MemoryUserDefaults defaults;
    QString boot = QStringLiteral("boot-1");
    std::map<std::pair<quint32, quint64>, unsigned> others; // what other programs set
    int calls = 0;
    int faultAt = -1;
    Fault fault = callFails;
};

class MicrophoneKeyTest : public ::testing::Test, protected Keyboards {};

// Each way enable() can fail leaves every keyboard as it was and nothing recorded.
TEST(MicrophoneKey, AFailedEnableChangesNothing) {
    const std::pair<void (*)(Keyboards&), QString> cases[] = {
        {[](Keyboards& k) { k.kernel.keyCode(12, micKey) = KEY_A; },
         "The microphone key already has a custom mapping. Disable that mapping first; Wispen "
         "has left it intact."},
        // Our entry would have to come first, which one key code per usage cannot hold.
        {[](Keyboards& k) { k.kernel.keyCode(12, micKey) = KEY_F15; }, couldNotChange},
        {[](Keyboards& k) {
             k.kernel.events.clear();
             k.kernel.plug(SimulatedDevices::remoteControl(1));
             k.kernel.plug(SimulatedDevices::builtInKeyboard(2));
         },
         "No supported keyboard services are available. Use Ctrl+Alt+Space to record."},
        {[](Keyboards& k) { k.kernel.device(12)->dropWrites = 1; }, notConfirmed},
        {[](Keyboards& k) { k.boot.clear(); }, unknownSession},
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

// A crash or a failed restore leaves a record that a later disable() finishes.
TEST_F(MicrophoneKeyTest, ARollbackThatCannotFinishSaysSoAndKeepsTheRecord) {
    kernel.device(12)->refuseWrites = 1;
    // Keyboard 10 then refuses the write that would restore it.
    kernel.beforeKeymapCall = [&] {
        kernel.device(10)->refuseWrites +=
            kernel.keyCode(10, micKey) == KEY_F19 && kernel.device(12)->refuseWrites == 0;
    };
    EXPECT_EQ(thrownBy([&] { key().enable(); }),
              "Microphone-key setup could not finish restoring its changes. Restart Wispen to "
              "retry recovery. Ctrl+Alt+Space still works.");
    kernel.beforeKeymapCall = nullptr;
    kernel.device(10)->refuseWrites = 0;
    const QVariant f19 = json(R"([{"source": "MIC", "destination": "F19"}])");
    EXPECT_EQ(record(),
              (QVariantMap{{"boot", boot}, {"mappings", QVariantMap{{"10", f19}, {"12", f19}}}}));
    key().disable();
    EXPECT_EQ(kernel.keyCode(10, micKey), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST(MicrophoneKey, ReadsTheBootSessionFromTheKernelsBootId) {
    EXPECT_EQ(MicrophoneKey::currentBootSession().size(), 36);
    QTemporaryDir dir;
    QFile file(dir.filePath("boot_id"));
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(file.fileName()); }), unknownSession);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("\n") && file.flush());
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(file.fileName()); }), unknownSession);
}

// What the stored record says we own, read in order: the mappings, the older
// entries, the older device list, and with no record at all the flag.
TEST_F(MicrophoneKeyTest, ReadsTheOwnershipRecord) {
    const QList<DeviceMapping> devices = {{"1", {{f5, 0x700000004}, {micKey, f15}}}};
    const QByteArray older = R"("entries": {"2": ["MIC", "F5", "F19", "x"], "3": ["x"]},
                                "devices": ["4", "4", "5"]})";
    const std::pair<QByteArray, Ownership> cases[] = {
        {R"("junk")", {{"1", {{micKey, f15}}}}}, // the flag alone: our F15 entries on sight
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
    };
    for (const auto& [record, expected] : cases) {
        defaults.setValue(MicrophoneKey::ownershipKey, true);
        defaults.setValue(MicrophoneKey::deviceOwnershipKey, json(record));
        EXPECT_EQ(key().owners(devices, boot), expected) << record.constData();
    }
}

// What keyboard 10 holds and the settings say before the operation.
const struct Prior {
    unsigned mic;
    const char* record;      // as JSON; empty: the flag alone; null: nothing
    bool foreignF15 = false; // another program maps keyboard 12's key to F15
} priors[] = {
    {KEY_VOICECOMMAND, nullptr},
    {KEY_F19,
     R"({"boot": "boot-1", "mappings": {"10": [{"source": "MIC", "destination": "F19"}]}})"},
    {KEY_F15, ""}, // an older version's entry
    {KEY_VOICECOMMAND, nullptr, true},
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
                        k.others[{12, micKey}] = k.kernel.keyCode(12, micKey) = KEY_F15;
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
                                 << &prior - priors << (enable ? " enable" : " disable")
                                 << ", fault " << fault << " at call " << at);
                    // Without a fault every keyboard is mapped, once for both nodes of 12.
                    if (at < 0 && enable && !prior.foreignF15) {
                        EXPECT_EQ(k.kernel.keyCode(10, micKey), unsigned(KEY_F19));
                        EXPECT_EQ(k.kernel.keyCode(13, micKey), unsigned(KEY_F19));
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
