// Fails every store call of the remapping transaction in turn, in every way a
// store call can fail, and checks after each run that nothing is unaccounted for:
// each keyboard holds its own entries, other programs' entries, and of ours only
// what the saved record names; and that a following disable() restores everything.
#include "KeyboardTestSupport.h"
#include "MicrophoneKey.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cstdio>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;

namespace {

constexpr quint64 micKey = MicrophoneMapping::source;
const QList<quint64> otherUsages = {MicrophoneMapping::keyboardF5,
                                    MicrophoneMapping::legacyDestination,
                                    MicrophoneMapping::destination};

enum class Fault {
    callFails,
    writeNotApplied,
    deviceVanishes,
    otherProgramChangesF5,
    otherProgramTakesKey
};
const QList<Fault> allFaults = {Fault::callFails, Fault::writeNotApplied, Fault::deviceVanishes,
                                Fault::otherProgramChangesF5, Fault::otherProgramTakesKey};

enum class Prior { nothing, ownedF20, legacyEntries, legacyFlagOnly, foreignF15, staleRecord };
const QList<Prior> allPriors = {Prior::nothing,        Prior::ownedF20,   Prior::legacyEntries,
                                Prior::legacyFlagOnly, Prior::foreignF15, Prior::staleRecord};

// What other programs have put on a keyboard: key codes per usage that must survive.
struct Expected {
    std::map<quint64, unsigned> others;
    std::optional<unsigned> mic; // set when the microphone key is another program's
};

class World;

// The store the transaction sees: the evdev store over the simulated kernel, with
// one fault injected at a chosen call.
class FaultyStore final : public KeyboardMappingStore {
public:
    FaultyStore(World& world)
        : m_world(world) {}
    QList<DeviceMapping> read() override;
    void write(const QString& id, const MappingList& mappings,
               const MappingList& replacing) override;

    int calls = 0;
    int faultAt = -1;
    Fault fault = Fault::callFails;
    bool injected = false;

private:
    bool due(bool isWrite);
    World& m_world;
};

class World {
public:
    // With `split`, the last keyboard is one HID device with two nodes sharing a keymap.
    World(int keyboards, Prior prior, bool otherEntries, bool split = false) {
        kernel.plug(SimulatedDevices::mouse(99));
        for (int i = 0; i < keyboards; ++i) {
            const quint32 number = quint32(10 + 2 * i);
            if (split && i == keyboards - 1)
                SimulatedDevices::plugSplitKeyboard(kernel, number, number + 1);
            else
                kernel.plug(SimulatedDevices::keyboard(number));
            numbers.append(number);
            Expected e;
            if (otherEntries && i == 0)
                setKeyCode(kernel, number, MicrophoneMapping::destination, KEY_F19);
            if (otherEntries && i == 1)
                setKeyCode(kernel, number, MicrophoneMapping::keyboardF5, KEY_A);
            for (quint64 usage : otherUsages)
                e.others[usage] = keyCode(kernel, number, usage);
            expected[number] = e;
        }
        const QString first = QString::number(numbers.first());
        switch (prior) {
        case Prior::nothing:
            break;
        case Prior::ownedF20:
            setKeyCode(kernel, numbers.first(), micKey, KEY_F20);
            defaults.setValue(MicrophoneKey::ownershipKey, true);
            defaults.setValue(
                MicrophoneKey::deviceOwnershipKey,
                QVariantMap{
                    {"boot", boot},
                    {"mappings", QVariantMap{{first, QVariantList{QVariantMap{
                                                         {"source", "51539607759"},
                                                         {"destination", "30064771183"}}}}}}});
            break;
        case Prior::legacyEntries:
            setKeyCode(kernel, numbers.first(), micKey, KEY_F15);
            defaults.setValue(MicrophoneKey::ownershipKey, true);
            defaults.setValue(
                MicrophoneKey::deviceOwnershipKey,
                QVariantMap{{"boot", boot},
                            {"entries", QVariantMap{{first, QVariantList{"51539607759"}}}}});
            break;
        case Prior::legacyFlagOnly:
            setKeyCode(kernel, numbers.first(), micKey, KEY_F15);
            defaults.setValue(MicrophoneKey::ownershipKey, true);
            break;
        case Prior::foreignF15:
            setKeyCode(kernel, numbers.last(), micKey, KEY_F15);
            expected[numbers.last()].mic = KEY_F15;
            break;
        case Prior::staleRecord:
            defaults.setValue(MicrophoneKey::ownershipKey, true);
            defaults.setValue(
                MicrophoneKey::deviceOwnershipKey,
                QVariantMap{{"boot", "an earlier boot"}, {"devices", QVariantList{first}}});
            break;
        }
    }

    MicrophoneKey key() {
        return MicrophoneKey(defaults, faulty, [this] { return boot; });
    }

    // A keyboard that is still there, for a fault that needs one.
    std::optional<quint32> target(const QString& id) {
        if (!id.isEmpty() && kernel.device(id.toUInt()))
            return id.toUInt();
        for (quint32 number : numbers) {
            if (kernel.device(number))
                return number;
        }
        return std::nullopt;
    }

    void inject(Fault fault, const QString& id) {
        const auto number = target(id);
        if (!number)
            return;
        SimulatedDevice& device = *kernel.device(*number);
        Expected& e = expected[*number];
        switch (fault) {
        case Fault::callFails:
        case Fault::writeNotApplied:
            break;
        case Fault::deviceVanishes:
            kernel.unplug(*number);
            break;
        case Fault::otherProgramChangesF5: {
            const unsigned code = e.others[MicrophoneMapping::keyboardF5] == KEY_B ? KEY_C : KEY_B;
            device.keymap.at(scancode(MicrophoneMapping::keyboardF5)) = code;
            e.others[MicrophoneMapping::keyboardF5] = code;
            break;
        }
        case Fault::otherProgramTakesKey:
            device.keymap.at(scancode(micKey)) = KEY_M;
            e.mic = KEY_M;
            break;
        }
    }

    // Every present keyboard holds other programs' codes unchanged, and of the
    // microphone key either its default, another program's code, or an entry of
    // ours that the record names.
    QString unaccounted(bool afterDisable) {
        MicrophoneKey reader(defaults, hid, [this] { return boot; });
        const MicrophoneKey::Ownership owned = reader.owners(hid.read(), boot);
        for (quint32 number : numbers) {
            const SimulatedDevice* device = kernel.device(number);
            if (!device)
                continue;
            const Expected& e = expected[number];
            for (quint64 usage : otherUsages) {
                if (keyCode(kernel, number, usage) != e.others.at(usage))
                    return QStringLiteral("keyboard %1: another program's entry was changed")
                        .arg(number);
            }
            const unsigned mic = keyCode(kernel, number, micKey);
            if (e.mic) {
                if (mic != *e.mic)
                    return QStringLiteral("keyboard %1: another program's key was changed")
                        .arg(number);
                continue;
            }
            if (mic == KEY_VOICECOMMAND)
                continue;
            const auto ours = owned.find(QString::number(number));
            const quint64 destination = HIDUsages::usageForKeyCode(mic);
            const bool named = ours != owned.end() && ours->second.count({micKey, destination}) > 0;
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
    FaultyStore faulty{*this};
    MemoryUserDefaults defaults;
    QString boot = QStringLiteral("this boot");
    QList<quint32> numbers;
    std::map<quint32, Expected> expected;
};

bool FaultyStore::due(bool isWrite) {
    const bool now = calls++ == faultAt;
    if (!now || (fault == Fault::writeNotApplied && !isWrite))
        return false;
    injected = true;
    return true;
}

QList<DeviceMapping> FaultyStore::read() {
    if (due(false)) {
        if (fault == Fault::callFails)
            throw ZedazidEdize::message(cannotReadDevices);
        m_world.inject(fault, {});
    }
    return m_world.hid.read();
}

void FaultyStore::write(const QString& id, const MappingList& mappings,
                        const MappingList& replacing) {
    if (due(true)) {
        if (fault == Fault::callFails)
            throw ZedazidEdize::message(couldNotChange);
        if (fault == Fault::writeNotApplied) {
            if (auto* device = m_world.kernel.device(id.toUInt()))
                device->dropWrites = 1;
        }
        m_world.inject(fault, id);
    }
    m_world.hid.write(id, mappings, replacing);
}

enum class Operation { enable, disable };

struct Tally {
    int runs = 0;
    int injected = 0;
    int unaccounted = 0;
    QStringList examples;
};

// Runs one operation with a fault at call `faultAt` (none when negative); returns
// the number of store calls the operation made.
int runOnce(int keyboards, Prior prior, bool otherEntries, Operation operation, int faultAt,
            Fault fault, Tally& tally) {
    // With other programs' entries, the last of several keyboards has two nodes.
    World world(keyboards, prior, otherEntries, keyboards > 1 && otherEntries);
    if (operation == Operation::disable) {
        try {
            world.key().enable();
        } catch (const ZedazidEdize&) {
        }
    }
    world.faulty.calls = 0;
    world.faulty.faultAt = faultAt;
    world.faulty.fault = fault;
    try {
        operation == Operation::enable ? world.key().enable() : world.key().disable();
    } catch (const ZedazidEdize&) {
    }
    const int calls = world.faulty.calls;
    if (faultAt < 0 || !world.faulty.injected)
        return calls;

    ++tally.injected;
    QString problem = world.unaccounted(false);
    if (problem.isEmpty()) {
        world.faulty.faultAt = -1;
        try {
            world.key().disable();
            problem = world.unaccounted(true);
        } catch (const ZedazidEdize& error) {
            problem = QStringLiteral("disable() failed: ") + error.errorDescription().value_or("");
        }
    }
    if (!problem.isEmpty()) {
        ++tally.unaccounted;
        if (tally.examples.size() < 10)
            tally.examples.append(
                QStringLiteral("%1 keyboards, prior %2, %3, call %4, fault %5: %6")
                    .arg(keyboards)
                    .arg(int(prior))
                    .arg(operation == Operation::enable ? "enable" : "disable")
                    .arg(faultAt)
                    .arg(int(fault))
                    .arg(problem));
    }
    return calls;
}

TEST(MicrophoneKeyFaultSweep, EveryInjectedFaultLeavesEverythingAccountedFor) {
    Tally tally;
    for (int keyboards : {1, 2, 3}) {
        for (Prior prior : allPriors) {
            for (bool otherEntries : {false, true}) {
                for (Operation operation : {Operation::enable, Operation::disable}) {
                    const int calls = runOnce(keyboards, prior, otherEntries, operation, -1,
                                              Fault::callFails, tally);
                    for (int at = 0; at < calls; ++at) {
                        for (Fault fault : allFaults) {
                            ++tally.runs;
                            runOnce(keyboards, prior, otherEntries, operation, at, fault, tally);
                        }
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

// Without faults, every starting point ends enabled as far as other programs allow,
// and disable() then restores every keyboard.
TEST(MicrophoneKeyFaultSweep, WithoutFaultsEnableThenDisableRestoresEveryKeyboard) {
    for (int keyboards : {1, 2, 3}) {
        for (Prior prior : allPriors) {
            World world(keyboards, prior, true);
            try {
                world.key().enable();
            } catch (const ZedazidEdize& error) {
                EXPECT_EQ(prior, Prior::foreignF15) << error.errorDescription()->toStdString();
            }
            if (prior != Prior::foreignF15) {
                for (quint32 number : world.numbers)
                    EXPECT_EQ(keyCode(world.kernel, number, micKey), unsigned(KEY_F20));
            }
            EXPECT_EQ(world.unaccounted(false), QString());
            world.key().disable();
            EXPECT_EQ(world.unaccounted(true), QString());
        }
    }
}

} // namespace
