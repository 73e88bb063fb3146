#include "MicrophoneMapping.h"
#include "ZedazidEdize.h"

#include <gtest/gtest.h>

using namespace MicrophoneMapping;

namespace {

const QString alreadyMapped =
    QStringLiteral("The microphone key already has a custom mapping. Disable that mapping first; "
                   "Wispen has left it intact.");
const QString unreadableMappings = QStringLiteral(
    "Cannot read the current keyboard mappings. Use Control-Option-Space to record.");
const QString unfamiliar =
    QStringLiteral("An unfamiliar keyboard mapping was found. No keys were changed.");
const QString unreadableValue =
    QStringLiteral("Cannot read a keyboard mapping. No keys were changed.");
const QString different =
    QStringLiteral("Your keyboards have different custom mappings. Wispen left them unchanged. "
                   "Use Control-Option-Space to record.");

constexpr quint64 capsLock = 0x700000039;
constexpr quint64 leftControl = 0x7000000E0;
const Entry f15Entry{source, legacyDestination};
const Entry capsToControl{capsLock, leftControl};

template <typename F> QString thrownBy(F&& f) {
    try {
        f();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QString());
    }
    return QStringLiteral("(nothing thrown)");
}

TEST(MicrophoneMappingConstants, MatchTheStoredUsages) {
    EXPECT_EQ(source, 51539607759u);
    EXPECT_EQ(keyboardF5, 30064771134u);
    EXPECT_EQ(legacyDestination, 30064771178u);
    EXPECT_EQ(destination, 30064771183u);
    EXPECT_EQ(entry(), (Entry{source, destination}));
    EXPECT_EQ(entry(keyboardF5), (Entry{keyboardF5, destination}));
}

TEST(MicrophoneMappingAdding, AppendsToAListWithoutTheSource) {
    EXPECT_EQ(adding({}, source), MappingList{entry()});
    EXPECT_EQ(adding({capsToControl}, source), (MappingList{capsToControl, entry()}));
}

TEST(MicrophoneMappingAdding, LeavesAListUnchangedWhenOurEntryComesFirst) {
    const MappingList list{capsToControl, entry(), f15Entry, {source, keyboardF5}};
    EXPECT_EQ(adding(list, source), list);
}

TEST(MicrophoneMappingAdding, PutsOurEntryAheadOfLegacyF15Entries) {
    EXPECT_EQ(adding({f15Entry}, source), (MappingList{entry(), f15Entry}));
    EXPECT_EQ(adding({capsToControl, f15Entry, f15Entry}, source),
              (MappingList{entry(), capsToControl, f15Entry, f15Entry}));
}

TEST(MicrophoneMappingAdding, RefusesAKeyMappedElsewhere) {
    const QList<MappingList> taken = {
        {{source, keyboardF5}},
        {f15Entry, {source, keyboardF5}},
        {{source, keyboardF5}, entry()},
    };
    for (const MappingList& list : taken)
        EXPECT_EQ(thrownBy([&] { adding(list, source); }), alreadyMapped);
    // Only the microphone key has the F15 allowance.
    EXPECT_EQ(thrownBy([] {
                  adding({{keyboardF5, legacyDestination}}, keyboardF5);
              }),
              alreadyMapped);
    EXPECT_EQ(adding({capsToControl}, keyboardF5), (MappingList{capsToControl, entry(keyboardF5)}));
}

TEST(MicrophoneMappingRemoving, DropsEveryCopyOfOurEntryOnly) {
    EXPECT_EQ(removing({capsToControl, entry(), f15Entry, entry(), entry(keyboardF5)}),
              (MappingList{capsToControl, f15Entry, entry(keyboardF5)}));
    EXPECT_EQ(removing({entry()}), MappingList{});
}

TEST(MicrophoneMappingParse, ReadsNullAndEmptyLists) {
    EXPECT_EQ(parse("\n  (null)\n\n"), MappingList{});
    EXPECT_EQ(parse("[]"), MappingList{});
    EXPECT_EQ(parse("(\n)"), MappingList{});
}

TEST(MicrophoneMappingParse, ReadsNumbersAndDecimalStrings) {
    EXPECT_EQ(parse(R"([{"HIDKeyboardModifierMappingSrc": 51539607759,
                        "HIDKeyboardModifierMappingDst": "30064771183"},
                       {"HIDKeyboardModifierMappingDst": "-0",
                        "HIDKeyboardModifierMappingSrc": "+18446744073709551615"}])"),
              (MappingList{entry(), {std::numeric_limits<quint64>::max(), 0}}));
}

TEST(MicrophoneMappingParse, ReadsEveryPropertyListForm) {
    const MappingList expected{entry()};
    EXPECT_EQ(parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><dict>
<key>HIDKeyboardModifierMappingSrc</key><integer>51539607759</integer>
<key>HIDKeyboardModifierMappingDst</key><integer>30064771183</integer>
</dict></array></plist>)"),
              expected);
    EXPECT_EQ(parse("(\n    {\n        HIDKeyboardModifierMappingDst = 30064771183;\n"
                    "        HIDKeyboardModifierMappingSrc = 51539607759;\n    }\n)"),
              expected);
    QByteArray binary("bplist00\xA1\x01\xD2\x02\x03\x04\x05", 15);
    binary += "\x5F\x10\x1D"
              "HIDKeyboardModifierMappingSrc";
    binary += "\x5F\x10\x1D"
              "HIDKeyboardModifierMappingDst";
    binary += QByteArray("\x13\x00\x00\x00\x0C\x00\x00\x00\xCF", 9);
    binary += QByteArray("\x13\x00\x00\x00\x07\x00\x00\x00\x6F", 9);
    binary += QByteArray("\x08\x0A\x0F\x2F\x4F\x58", 6); // offsets of the six objects
    QByteArray trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 6;
    trailer[31] = char(binary.size() - 6);
    EXPECT_EQ(parse(binary + trailer), expected);
}

TEST(MicrophoneMappingParse, RefusesWhatIsNotAListOfDictionaries) {
    const QList<QByteArray> bad = {
        "",
        "{}",
        "5",
        "\"text\"",
        "[1]",
        "[[]]",
        R"([{"HIDKeyboardModifierMappingSrc": 1, "HIDKeyboardModifierMappingDst": 2}, 3])",
        "(null",
        "\xff\xfe",
        "<plist><array>"};
    for (const QByteArray& data : bad)
        EXPECT_EQ(thrownBy([&] { parse(data); }), unreadableMappings) << data.constData();
}

TEST(MicrophoneMappingParse, RefusesEntriesWithOtherKeys) {
    const QList<QByteArray> bad = {
        R"([{"HIDKeyboardModifierMappingSrc": 1, "HIDKeyboardModifierMappingDst": 2, "x": 3}])",
        R"([{"HIDKeyboardModifierMappingSrc": 1}])",
        R"([{}])",
        R"([{"HIDKeyboardModifierMappingSrc": 1, "hidkeyboardmodifiermappingdst": 2}])",
    };
    for (const QByteArray& data : bad)
        EXPECT_EQ(thrownBy([&] { parse(data); }), unfamiliar) << data.constData();
}

TEST(MicrophoneMappingParse, RefusesValuesThatAreNotUnsignedIntegers) {
    const QList<QByteArray> values = {
        "\"\"", "\"-1\"", "\"12a\"", "\" 12\"", "\"18446744073709551616\"", "-1", "1.5", "true",
        "null", "[]",     "{}",      "1e300",   "18446744073709551615" /* rounded by JSON */};
    for (const QByteArray& value : values) {
        const QByteArray data =
            R"([{"HIDKeyboardModifierMappingSrc": 1, "HIDKeyboardModifierMappingDst": )" + value +
            "}]";
        EXPECT_EQ(thrownBy([&] { parse(data); }), unreadableValue) << value.constData();
    }
}

TEST(MicrophoneMappingParse, ReadsATableOfServices) {
    EXPECT_EQ(parse("RegistryID  Key  Value\n1000005a3 UserKeyMapping (null)\n"), MappingList{});
    const QByteArray row = "(\n    {\n    HIDKeyboardModifierMappingDst = 30064771183;\n"
                           "    HIDKeyboardModifierMappingSrc = 51539607759;\n    }\n)\n";
    EXPECT_EQ(parse("RegistryID Key Value\n100000abc\tUserKeyMapping " + row +
                    "100000DEF UserKeyMapping\t" + row),
              MappingList{entry()});
}

TEST(MicrophoneMappingParse, RefusesMalformedTables) {
    EXPECT_EQ(thrownBy([] { parse("RegistryID Key\n1 UserKeyMapping []"); }), unreadableMappings);
    EXPECT_EQ(thrownBy([] { parse("RegistryID Key Value\n"); }), unreadableMappings);
    EXPECT_EQ(thrownBy([] { parse("RegistryID Key Value\njunk\n1 UserKeyMapping []"); }),
              unreadableMappings);
    EXPECT_EQ(thrownBy([] { parse("RegistryID Key Value\nxyz UserKeyMapping []"); }),
              unreadableMappings);
    // A row's own errors pass through unchanged.
    EXPECT_EQ(thrownBy([] { parse("RegistryID Key Value\n1 UserKeyMapping [{\"a\": 1}]"); }),
              unfamiliar);
    EXPECT_EQ(thrownBy([] {
                  parse("RegistryID Key Value\n1 UserKeyMapping (null)\n2 UserKeyMapping "
                        "[{\"HIDKeyboardModifierMappingSrc\": 1, "
                        "\"HIDKeyboardModifierMappingDst\": 2}]");
              }),
              different);
}

} // namespace
