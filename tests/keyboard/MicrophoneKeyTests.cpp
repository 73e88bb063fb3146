#include "KeyboardTestSupport.h"
#include "MicrophoneKey.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

using namespace KeyboardTest;
using MicrophoneMapping::MappingList;
using OwnedMapping = MicrophoneKey::OwnedMapping;
using Ownership = MicrophoneKey::Ownership;

namespace {

constexpr quint64 micKey = MicrophoneMapping::source;
constexpr quint64 f5 = MicrophoneMapping::keyboardF5;
constexpr quint64 f15 = MicrophoneMapping::legacyDestination;
constexpr quint64 f20 = MicrophoneMapping::destination;
const QString micText = QStringLiteral("51539607759");
const QString f5Text = QStringLiteral("30064771134");
const QString f15Text = QStringLiteral("30064771178");
const QString f20Text = QStringLiteral("30064771183");

// Counts the calls that reach the store, and can fail the writes of one device.
class CountingStore final : public KeyboardMappingStore {
public:
    explicit CountingStore(KeyboardMappingStore& inner)
        : m_inner(inner) {}
    QList<DeviceMapping> read() override {
        ++reads;
        return m_inner.read();
    }
    void write(const QString& id, const MappingList& mappings,
               const MappingList& replacing) override {
        ++writes;
        m_inner.write(id, mappings, replacing);
    }
    int reads = 0;
    int writes = 0;

private:
    KeyboardMappingStore& m_inner;
};

class MicrophoneKeyTest : public ::testing::Test {
protected:
    MicrophoneKey key() {
        return MicrophoneKey(defaults, store, [this] { return boot; });
    }
    QVariantMap record() const { return defaults.value(MicrophoneKey::deviceOwnershipKey).toMap(); }
    static QVariantMap pair(const QString& source, const QString& destination) {
        return {{"source", source}, {"destination", destination}};
    }
    unsigned mic(quint32 device) { return keyCode(kernel, device, micKey); }

    SimulatedKernel kernel;
    HIDKeyboardMappingStore hid{std::make_unique<SimulatedInputDevices>(kernel)};
    CountingStore store{hid};
    MemoryUserDefaults defaults;
    QString boot = QStringLiteral("boot-1");
};

TEST_F(MicrophoneKeyTest, EnableMapsTheKeyAndRecordsIt) {
    kernel.plug(SimulatedDevices::keyboard(3));
    kernel.plug(SimulatedDevices::mouse(4));
    key().enable();
    EXPECT_EQ(hid.read().value(0).mappings, MappingList{MicrophoneMapping::entry()});
    EXPECT_EQ(record(), (QVariantMap{{"boot", "boot-1"},
                                     {"mappings",
                                      QVariantMap{{"3", QVariantList{pair(micText, f20Text)}}}}}));
    EXPECT_TRUE(key().ownsMapping());

    // Again in the same boot session: nothing to write, the record stays.
    const int writes = store.writes;
    key().enable();
    EXPECT_EQ(store.writes, writes);
    EXPECT_EQ(record().value("mappings").toMap().keys(), QStringList{"3"});

    key().disable();
    EXPECT_EQ(mic(3), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
    EXPECT_EQ(record(), (QVariantMap{{"boot", "boot-1"}, {"mappings", QVariantMap{}}}));
}

TEST_F(MicrophoneKeyTest, EnableWritesAKeyboardWithSeveralNodesOnce) {
    kernel.plug(SimulatedDevices::keyboard(3));
    SimulatedDevices::plugSplitKeyboard(kernel, 7, 8);
    key().enable();
    EXPECT_EQ(store.writes, 2);
    EXPECT_EQ(mic(3), unsigned(KEY_F20));
    EXPECT_EQ(mic(8), unsigned(KEY_F20));
    EXPECT_EQ(record().value("mappings").toMap().keys(), (QStringList{"3", "7"}));
    key().disable();
    EXPECT_EQ(mic(8), unsigned(KEY_VOICECOMMAND));
}

TEST_F(MicrophoneKeyTest, EnableAfterARestartIgnoresTheOldRecord) {
    kernel.plug(SimulatedDevices::keyboard(3));
    key().enable();
    // A restart: the kernel forgets the mapping and the devices are numbered anew.
    kernel.unplug(3);
    kernel.plug(SimulatedDevices::keyboard(5));
    boot = "boot-2";
    key().enable();
    EXPECT_EQ(mic(5), unsigned(KEY_F20));
    EXPECT_EQ(record(), (QVariantMap{{"boot", "boot-2"},
                                     {"mappings",
                                      QVariantMap{{"5", QVariantList{pair(micText, f20Text)}}}}}));
}

TEST_F(MicrophoneKeyTest, EnableReplacesOurOlderF15EntriesInEveryRecordForm) {
    const QList<std::function<void()>> forms = {
        [&] { defaults.setValue(MicrophoneKey::ownershipKey, true); },
        [&] {
            defaults.setValue(MicrophoneKey::deviceOwnershipKey,
                              QVariantMap{{"boot", boot}, {"devices", QVariantList{"1"}}});
        },
        [&] {
            defaults.setValue(MicrophoneKey::deviceOwnershipKey,
                              QVariantMap{{"boot", boot},
                                          {"entries", QVariantMap{{"1", QVariantList{micText}}}}});
        },
        [&] {
            defaults.setValue(
                MicrophoneKey::deviceOwnershipKey,
                QVariantMap{
                    {"boot", boot},
                    {"mappings", QVariantMap{{"1", QVariantList{pair(micText, f15Text)}}}}});
        },
    };
    for (const auto& form : forms) {
        kernel.events.clear();
        defaults = MemoryUserDefaults();
        kernel.plug(SimulatedDevices::keyboard(1));
        setKeyCode(kernel, 1, micKey, KEY_F15);
        form();
        key().enable();
        EXPECT_EQ(mic(1), unsigned(KEY_F20));
        EXPECT_EQ(record().value("mappings"),
                  QVariant(QVariantMap{{"1", QVariantList{pair(micText, f20Text)}}}));
    }
}

TEST_F(MicrophoneKeyTest, EnableLeavesAnotherProgramsMappingIntact) {
    kernel.plug(SimulatedDevices::keyboard(1));
    setKeyCode(kernel, 1, micKey, KEY_A);
    EXPECT_EQ(thrownBy([&] { key().enable(); }), alreadyMapped);
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(mic(1), unsigned(KEY_A));

    // Another program's F15 entry: our entry would have to come first, which a
    // keymap with one key code per usage cannot hold, so nothing changes.
    setKeyCode(kernel, 1, micKey, KEY_F15);
    EXPECT_EQ(thrownBy([&] { key().enable(); }), couldNotChange);
    EXPECT_EQ(mic(1), unsigned(KEY_F15));
    EXPECT_FALSE(key().ownsMapping());
}

TEST_F(MicrophoneKeyTest, EnableWithoutKeyboardsFails) {
    kernel.plug(SimulatedDevices::mouse(1));
    kernel.plug(SimulatedDevices::builtInKeyboard(2));
    EXPECT_EQ(thrownBy([&] { key().enable(); }), noKeyboards);
    EXPECT_EQ(store.writes, 0);
}

TEST_F(MicrophoneKeyTest, AFailedWriteToTheSecondKeyboardRestoresTheFirst) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    kernel.device(2)->refuseWrites = 1;
    EXPECT_EQ(thrownBy([&] { key().enable(); }), couldNotChange);
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(mic(2), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
    EXPECT_EQ(record().value("mappings"), QVariant(QVariantMap{}));
}

TEST_F(MicrophoneKeyTest, AFailedWriteKeepsWhatWasOwnedBefore) {
    kernel.plug(SimulatedDevices::keyboard(1));
    key().enable();
    kernel.plug(SimulatedDevices::keyboard(2));
    kernel.device(2)->refuseWrites = 1;
    EXPECT_EQ(thrownBy([&] { key().enable(); }), couldNotChange);
    EXPECT_EQ(mic(1), unsigned(KEY_F20));
    EXPECT_EQ(record().value("mappings"),
              QVariant(QVariantMap{{"1", QVariantList{pair(micText, f20Text)}}}));
}

TEST_F(MicrophoneKeyTest, AWriteThatIsNotAppliedIsReportedAndRolledBack) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::consumerControl(2));
    kernel.device(2)->dropWrites = 1;
    EXPECT_EQ(thrownBy([&] { key().enable(); }), notConfirmed);
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(mic(2), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST_F(MicrophoneKeyTest, ARollbackThatCannotFinishSaysSoAndKeepsTheRecord) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    kernel.device(2)->refuseWrites = 1;
    // The first keyboard refuses the write that would restore it.
    kernel.beforeKeymapCall = [&] {
        if (kernel.device(1) && kernel.device(1)->keymap.at(scancode(micKey)) == KEY_F20 &&
            kernel.device(2)->refuseWrites == 0)
            kernel.device(1)->refuseWrites = 1;
    };
    EXPECT_EQ(thrownBy([&] { key().enable(); }), couldNotRestore);
    kernel.beforeKeymapCall = nullptr;
    kernel.device(1)->refuseWrites = 0;
    EXPECT_EQ(mic(1), unsigned(KEY_F20));
    EXPECT_TRUE(record().value("mappings").toMap().contains("1"));
    // The next disable retries.
    key().disable();
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST_F(MicrophoneKeyTest, DisableWithoutOwnershipTouchesNoDevice) {
    kernel.listingFails = true;
    key().disable();
    EXPECT_EQ(store.reads, 0);
}

TEST_F(MicrophoneKeyTest, DisableForgetsAnUnpluggedKeyboard) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    key().enable();
    kernel.unplug(2);
    key().disable();
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_FALSE(key().ownsMapping());
}

TEST_F(MicrophoneKeyTest, ADisableThatFailsKeepsTheKeyboardOwned) {
    kernel.plug(SimulatedDevices::keyboard(1));
    kernel.plug(SimulatedDevices::keyboard(2));
    key().enable();
    kernel.device(2)->refuseWrites = 1;
    EXPECT_EQ(thrownBy([&] { key().disable(); }), couldNotChange);
    EXPECT_EQ(mic(1), unsigned(KEY_VOICECOMMAND));
    EXPECT_EQ(record().value("mappings"),
              QVariant(QVariantMap{{"2", QVariantList{pair(micText, f20Text)}}}));
    EXPECT_TRUE(key().ownsMapping());
    key().disable();
    EXPECT_EQ(mic(2), unsigned(KEY_VOICECOMMAND));
}

TEST_F(MicrophoneKeyTest, BootSessionFailuresStopBeforeAnyChange) {
    kernel.plug(SimulatedDevices::keyboard(1));
    MicrophoneKey failing(defaults, store,
                          []() -> QString { throw ZedazidEdize::message(unknownSession); });
    EXPECT_EQ(thrownBy([&] { failing.enable(); }), unknownSession);
    EXPECT_EQ(store.writes, 0);

    QTemporaryDir dir;
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(dir.filePath("missing")); }),
              unknownSession);
    QFile empty(dir.filePath("empty"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.write("\n");
    empty.close();
    EXPECT_EQ(thrownBy([&] { MicrophoneKey::readBootSession(empty.fileName()); }), unknownSession);
    QFile id(dir.filePath("id"));
    ASSERT_TRUE(id.open(QIODevice::WriteOnly));
    id.write("6f9d0c1e-2b3a-4c5d-8e7f-0a1b2c3d4e5f\n");
    id.close();
    EXPECT_EQ(MicrophoneKey::readBootSession(id.fileName()),
              "6f9d0c1e-2b3a-4c5d-8e7f-0a1b2c3d4e5f");
}

TEST(MicrophoneKeyBootSession, ReadsTheKernelsBootId) {
    const QString id = MicrophoneKey::currentBootSession();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(MicrophoneKey::currentBootSession(), id);
}

// The ownership record on its own.
class OwnershipRecordTest : public MicrophoneKeyTest {
protected:
    void storeRecord(const QVariantMap& record) {
        defaults.setValue(MicrophoneKey::deviceOwnershipKey, record);
    }
    Ownership owners(const QList<DeviceMapping>& devices = {}) {
        return key().owners(devices, boot);
    }
};

TEST_F(OwnershipRecordTest, WithoutARecordTheFlagDecides) {
    const QList<DeviceMapping> devices = {
        {"1", {{f5, 0x700000004}, {micKey, f15}}},
        {"2", {{micKey, f20}}},
    };
    EXPECT_EQ(owners(devices), Ownership{});
    defaults.setValue(MicrophoneKey::ownershipKey, true);
    EXPECT_EQ(owners(devices), (Ownership{{"1", {{micKey, f15}}}}));
    // A record that is not a dictionary counts as none.
    storeRecord({});
    defaults.setValue(MicrophoneKey::deviceOwnershipKey, "junk");
    EXPECT_EQ(owners(devices), (Ownership{{"1", {{micKey, f15}}}}));
}

TEST_F(OwnershipRecordTest, ARecordOfAnotherBootIsEmpty) {
    const QVariantMap mappings{{"1", QVariantList{pair(micText, f20Text)}}};
    storeRecord({{"boot", "boot-0"}, {"mappings", mappings}});
    EXPECT_EQ(owners(), Ownership{});
    storeRecord({{"boot", 7}, {"mappings", mappings}});
    EXPECT_EQ(owners(), Ownership{});
    storeRecord({{"mappings", mappings}});
    EXPECT_EQ(owners(), Ownership{});
    storeRecord({{"boot", boot}, {"mappings", mappings}});
    EXPECT_EQ(owners(), (Ownership{{"1", {{micKey, f20}}}}));
}

TEST_F(OwnershipRecordTest, SkipsPairsThatAreNotOurs) {
    storeRecord(
        {{"boot", boot},
         {"mappings",
          QVariantMap{{"1", QVariantList{pair(micText, f5Text), pair(f20Text, f20Text),
                                         pair(f5Text, f15Text), pair("+" + micText, f20Text),
                                         QVariantMap{{"source", micText}}, pair("x", f20Text)}},
                      {"2", QVariantList{pair(micText, "")}}}}});
    EXPECT_EQ(owners(), (Ownership{{"1", {{f5, f15}, {micKey, f20}}}}));
}

TEST_F(OwnershipRecordTest, ReadsMappingsThenEntriesThenDevices) {
    const QVariantMap mappings{{"1", QVariantList{pair(micText, f20Text)}}};
    const QVariantMap entries{{"2", QVariantList{micText, f5Text, f20Text, "x"}},
                              {"3", QVariantList{"x"}}};
    const QVariantList devices{"4", "4", "5"};
    storeRecord(
        {{"boot", boot}, {"mappings", mappings}, {"entries", entries}, {"devices", devices}});
    EXPECT_EQ(owners(), (Ownership{{"1", {{micKey, f20}}}}));

    const QVariantMap wrongMappings{
        {"1", QVariantList{QVariantMap{{"source", 5}, {"destination", f20Text}}}}};
    storeRecord(
        {{"boot", boot}, {"mappings", wrongMappings}, {"entries", entries}, {"devices", devices}});
    EXPECT_EQ(owners(), (Ownership{{"2", {{f5, f15}, {micKey, f15}}}}));

    storeRecord({{"boot", boot},
                 {"mappings", "x"},
                 {"entries", QVariantMap{{"2", micText}}},
                 {"devices", devices}});
    EXPECT_EQ(owners(), (Ownership{{"4", {{micKey, f15}}}, {"5", {{micKey, f15}}}}));

    storeRecord({{"boot", boot}, {"devices", QVariantList{"4", 5}}});
    EXPECT_EQ(owners(), Ownership{});
}

TEST_F(OwnershipRecordTest, SavesSortedDecimalPairsAndTheFlag) {
    auto k = key();
    k.save({{"1", {{micKey, f20}, {f5, f15}, {micKey, f15}}}, {"2", {}}}, boot);
    EXPECT_EQ(
        record(),
        (QVariantMap{{"boot", boot},
                     {"mappings",
                      QVariantMap{{"1", QVariantList{pair(f5Text, f15Text), pair(micText, f15Text),
                                                     pair(micText, f20Text)}}}}}));
    EXPECT_TRUE(k.ownsMapping());
    k.save({}, boot);
    EXPECT_EQ(record(), (QVariantMap{{"boot", boot}, {"mappings", QVariantMap{}}}));
    EXPECT_EQ(defaults.value(MicrophoneKey::ownershipKey), QVariant(false));
}

} // namespace
