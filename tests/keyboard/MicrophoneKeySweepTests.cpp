// Fails every store call of the remapping transaction in turn, in every way a
// store call can fail, and checks after each run that nothing is unaccounted for:
// each keyboard holds its own entries, other programs' entries, and of ours only
// what the saved record names; and that a following disable() restores everything.
#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cstdio>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;

namespace {

const QList<quint64> otherUsages = {f5, f15, f19};

// Each fault strikes at one store call; the last one fills the disk from then on.
enum Fault { callFails, writeNotApplied, deviceVanishes, otherChangesF5, otherTakesKey, diskFull };
const char* const faultNames[] = {"the call fails",
                                  "a write is not applied",
                                  "a device vanishes",
                                  "another program changes F5",
                                  "another program takes the key",
                                  "the settings cannot be kept from now on"};

// What the keyboards and the settings hold before the operation; the first
// keyboard is input 10.
struct Prior {
    const char* name;
    unsigned firstMic; // the first keyboard's microphone key
    bool flag;
    const char* record;      // as JSON
    bool foreignF15 = false; // another program maps the last keyboard's key to F15
};
const Prior priors[] = {
    {"nothing", KEY_VOICECOMMAND, false, ""},
    {"owned F19", KEY_F19, true,
     R"({"boot": "this boot", "mappings": {"10": [{"source": "51539607759",
                                                 "destination": "30064771182"}]}})"},
    {"legacy entries", KEY_F15, true,
     R"({"boot": "this boot", "entries": {"10": ["51539607759"]}})"},
    {"legacy device list", KEY_F15, true, R"({"boot": "this boot", "devices": ["10"]})"},
    {"legacy mappings", KEY_F15, true,
     R"({"boot": "this boot", "mappings": {"10": [{"source": "51539607759",
                                                 "destination": "30064771178"}]}})"},
    {"legacy flag only", KEY_F15, true, ""},
    {"another program's F15", KEY_VOICECOMMAND, false, "", true},
    {"a stale record", KEY_VOICECOMMAND, true, R"({"boot": "earlier", "devices": ["10"]})"},
};
const QString thisBoot = QStringLiteral("this boot");

// What other programs have put on a keyboard: key codes per usage that must survive.
struct Expected {
    std::map<quint64, unsigned> others;
    std::optional<unsigned> mic; // set when the microphone key is another program's
};

// Keyboards and settings, and the store the transaction sees: the evdev store over
// the simulated kernel, with one fault injected at a chosen call.
class World final : public KeyboardMappingStore {
public:
    World(int keyboards, const Prior& prior, bool otherEntries) {
        kernel.plug(SimulatedDevices::mouse(99));
        kernel.plug(SimulatedDevices::remoteControl(98));
        for (int i = 0; i < keyboards; ++i) {
            const quint32 number = quint32(10 + 2 * i);
            // With other programs' entries, the last of several keyboards has two nodes.
            if (otherEntries && keyboards > 1 && i == keyboards - 1)
                SimulatedDevices::plugSplitKeyboard(kernel, number, number + 1);
            else
                kernel.plug(SimulatedDevices::keyboard(number));
            numbers.append(number);
            if (otherEntries && i < 2)
                kernel.keyCode(number, i == 0 ? f19 : f5) = i == 0 ? KEY_F18 : KEY_A;
            for (quint64 usage : otherUsages)
                expected[number].others[usage] = kernel.keyCode(number, usage);
        }
        kernel.keyCode(numbers.first(), micKey) = prior.firstMic;
        if (prior.foreignF15)
            expected[numbers.last()].mic = kernel.keyCode(numbers.last(), micKey) = KEY_F15;
        if (prior.flag)
            defaults.setValue(MicrophoneKey::ownershipKey, true);
        if (*prior.record)
            defaults.setValue(MicrophoneKey::deviceOwnershipKey,
                              QJsonDocument::fromJson(prior.record).toVariant());
    }

    MicrophoneKey key() {
        return MicrophoneKey(defaults, *this, [] { return thisBoot; });
    }

    QList<DeviceMapping> read() override {
        if (due(false)) {
            if (fault == callFails)
                throw ZedazidEdize::message(cannotReadDevices);
            inject({});
        }
        return hid.read();
    }

    void write(const QString& id, const MappingList& mappings,
               const MappingList& replacing) override {
        if (due(true)) {
            if (fault == callFails)
                throw ZedazidEdize::message(couldNotChange);
            if (fault == writeNotApplied && kernel.device(id.toUInt()))
                kernel.device(id.toUInt())->dropWrites = 1;
            inject(id);
        }
        hid.write(id, mappings, replacing);
    }

    // Every present keyboard holds other programs' codes unchanged, and of the
    // microphone key either its default, another program's code, or an entry of
    // ours that the record names.
    QString unaccounted(bool afterDisable) {
        MicrophoneKey reader(defaults, hid, [] { return thisBoot; });
        const MicrophoneKey::Ownership owned = reader.owners(hid.read(), thisBoot);
        for (quint32 number : numbers) {
            if (!kernel.device(number))
                continue;
            const Expected& e = expected[number];
            for (quint64 usage : otherUsages) {
                if (kernel.keyCode(number, usage) != e.others.at(usage))
                    return QStringLiteral("keyboard %1: another program's entry was changed")
                        .arg(number);
            }
            const unsigned mic = kernel.keyCode(number, micKey);
            if (e.mic && mic != *e.mic)
                return QStringLiteral("keyboard %1: another program's key was changed").arg(number);
            if (e.mic || mic == KEY_VOICECOMMAND)
                continue;
            const auto ours = owned.find(QString::number(number));
            const bool named = ours != owned.end() &&
                               ours->second.count({micKey, HIDUsages::usageForKeyCode(mic)}) > 0;
            if (afterDisable || !named)
                return QStringLiteral("keyboard %1: an entry of ours is %2")
                    .arg(number)
                    .arg(afterDisable ? "left behind" : "not recorded");
        }
        if (afterDisable && reader.ownsMapping())
            return QStringLiteral("the record still claims ownership");
        return {};
    }

    SimulatedKernel kernel;
    HIDKeyboardMappingStore hid{std::make_unique<SimulatedInputDevices>(kernel)};
    MemoryUserDefaults defaults;
    QList<quint32> numbers;
    std::map<quint32, Expected> expected;
    int calls = 0;
    int faultAt = -1;
    Fault fault = callFails;
    bool injected = false;

private:
    bool due(bool isWrite) {
        const bool now = calls++ == faultAt && (isWrite || fault != writeNotApplied);
        injected = injected || now;
        return now;
    }

    // Changes a keyboard that is still there (the one written, if given) as the fault says.
    void inject(const QString& id) {
        quint32 number = id.toUInt();
        for (qsizetype i = 0; !kernel.device(number) && i < numbers.size(); ++i)
            number = numbers[i];
        if (!kernel.device(number))
            return;
        Expected& e = expected[number];
        if (fault == diskFull) {
            defaults.refuseWrites = true;
        } else if (fault == deviceVanishes) {
            kernel.unplug(number);
        } else if (fault == otherChangesF5) {
            const unsigned code = e.others[f5] == KEY_B ? KEY_C : KEY_B;
            e.others[f5] = kernel.keyCode(number, f5) = code;
        } else if (fault == otherTakesKey) {
            e.mic = kernel.keyCode(number, micKey) = KEY_M;
        }
    }
};

struct Tally {
    int injected = 0;
    int unaccounted = 0;
    QStringList examples;
};

void swallow(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const ZedazidEdize&) {
    }
}

// Runs enable() or disable() (after an enable()) with a fault at call `faultAt`, or
// none when negative, and checks what it leaves; returns the number of store calls.
int runOnce(int keyboards, const Prior& prior, bool otherEntries, bool enable, int faultAt,
            Fault fault, Tally& tally) {
    World world(keyboards, prior, otherEntries);
    if (!enable)
        swallow([&] { world.key().enable(); });
    world.calls = 0;
    world.faultAt = faultAt;
    world.fault = fault;
    swallow([&] { enable ? world.key().enable() : world.key().disable(); });
    const int calls = world.calls;
    if (faultAt >= 0 && !world.injected)
        return calls;

    QString problem = world.unaccounted(false);
    // Without a fault, enable() maps every keyboard as far as other programs allow,
    // replacing our older F15 entries whatever form the record names them in.
    for (quint32 number : world.numbers) {
        if (faultAt < 0 && enable && !prior.foreignF15 &&
            world.kernel.keyCode(number, micKey) != KEY_F19)
            problem = QStringLiteral("keyboard %1 was not mapped").arg(number);
    }
    if (problem.isEmpty()) {
        world.faultAt = -1;
        world.defaults.refuseWrites = false;
        try {
            world.key().disable();
            problem = world.unaccounted(true);
        } catch (const ZedazidEdize& error) {
            problem = QStringLiteral("disable() failed: ") + error.errorDescription().value_or("");
        }
    }
    const QString run =
        QStringLiteral("%1 keyboards, %2, %3other entries, %4, call %5, %6: ")
            .arg(keyboards)
            .arg(prior.name, otherEntries ? "" : "no ", enable ? "enable" : "disable")
            .arg(faultAt)
            .arg(faultAt < 0 ? "no fault" : faultNames[fault]);
    if (faultAt < 0) {
        EXPECT_EQ(problem, QString()) << run.toStdString();
        return calls;
    }
    ++tally.injected;
    if (!problem.isEmpty() && ++tally.unaccounted <= 10)
        tally.examples.append(run + problem);
    return calls;
}

TEST(MicrophoneKeyFaultSweep, EveryInjectedFaultLeavesEverythingAccountedFor) {
    Tally tally;
    for (int keyboards : {1, 2, 3}) {
        for (const Prior& prior : priors) {
            for (bool otherEntries : {false, true}) {
                for (bool enable : {true, false}) {
                    const int calls =
                        runOnce(keyboards, prior, otherEntries, enable, -1, callFails, tally);
                    for (int at = 0; at < calls; ++at) {
                        for (Fault fault : {callFails, writeNotApplied, deviceVanishes,
                                            otherChangesF5, otherTakesKey, diskFull})
                            runOnce(keyboards, prior, otherEntries, enable, at, fault, tally);
                    }
                }
            }
        }
    }
    RecordProperty("injectedFaults", tally.injected);
    RecordProperty("unaccountedFaults", tally.unaccounted);
    std::printf("fault sweep: %d faults injected, %d left something unaccounted for\n",
                tally.injected, tally.unaccounted);
    EXPECT_GT(tally.injected, 500);
    EXPECT_EQ(tally.unaccounted, 0) << tally.examples.join(u'\n').toStdString();
}

} // namespace
