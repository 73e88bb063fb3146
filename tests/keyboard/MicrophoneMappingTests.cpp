#include "MicrophoneMapping.h"
#include "ZedazidEdize.h"

#include <gtest/gtest.h>

using namespace MicrophoneMapping;

namespace {

constexpr quint64 capsLock = 0x700000039;
const Entry f15Entry{source, legacyDestination};
const Entry capsToControl{capsLock, 0x7000000E0};

template <typename F> QString thrownBy(F&& f) {
    try {
        f();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QString());
    }
    return QStringLiteral("(nothing thrown)");
}

TEST(MicrophoneMapping, AddingPutsOurEntryFirstOrRefusesAKeyMappedElsewhere) {
    const QString alreadyMapped =
        QStringLiteral("The microphone key already has a custom mapping. Disable that mapping "
                       "first; Wispen has left it intact.");
    const struct {
        MappingList list;
        quint64 source;
        std::optional<MappingList> expected; // nothing: refused
    } cases[] = {
        {{}, source, MappingList{entry()}},
        {{capsToControl}, source, MappingList{capsToControl, entry()}},
        {{capsToControl, entry(), f15Entry, {source, keyboardF5}},
         source,
         MappingList{capsToControl, entry(), f15Entry, {source, keyboardF5}}},
        // Our entry goes ahead of legacy F15 entries.
        {{f15Entry}, source, MappingList{entry(), f15Entry}},
        {{capsToControl, f15Entry, f15Entry},
         source,
         MappingList{entry(), capsToControl, f15Entry, f15Entry}},
        {{capsToControl}, keyboardF5, MappingList{capsToControl, entry(keyboardF5)}},
        {{{source, keyboardF5}}, source, std::nullopt},
        {{f15Entry, {source, keyboardF5}}, source, std::nullopt},
        {{{source, keyboardF5}, entry()}, source, std::nullopt},
        // Only the microphone key has the F15 allowance.
        {{{keyboardF5, legacyDestination}}, keyboardF5, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        if (c.expected)
            EXPECT_EQ(adding(c.list, c.source), *c.expected);
        else
            EXPECT_EQ(thrownBy([&] { adding(c.list, c.source); }), alreadyMapped);
    }
}

TEST(MicrophoneMapping, RemovingDropsEveryCopyOfOurEntryOnly) {
    EXPECT_EQ(removing({capsToControl, entry(), f15Entry, entry(), entry(keyboardF5)}),
              (MappingList{capsToControl, f15Entry, entry(keyboardF5)}));
    EXPECT_EQ(removing({entry()}), MappingList{});
}

TEST(MicrophoneMapping, ParseReadsAListOrATableOfServices) {
    const QByteArray row = "(\n    {\n    HIDKeyboardModifierMappingDst = 30064771182;\n"
                           "    HIDKeyboardModifierMappingSrc = 51539607759;\n    }\n)\n";
    const std::pair<QByteArray, MappingList> cases[] = {
        {"\n  (null)\n\n", {}},
        {"[]", {}},
        {"(\n)", {}},
        {R"([{"HIDKeyboardModifierMappingSrc": 51539607759,
             "HIDKeyboardModifierMappingDst": "30064771182"},
            {"HIDKeyboardModifierMappingDst": "-0",
             "HIDKeyboardModifierMappingSrc": "+18446744073709551615"}])",
         {entry(), {std::numeric_limits<quint64>::max(), 0}}},
        {"RegistryID  Key  Value\n1000005a3 UserKeyMapping (null)\n", {}},
        {"RegistryID Key Value\n100000abc\tUserKeyMapping " + row + "100000DEF UserKeyMapping\t" +
             row,
         {entry()}},
    };
    for (const auto& [data, expected] : cases)
        EXPECT_EQ(parse(data), expected) << data.constData();
}

TEST(MicrophoneMapping, ParseRefusesMalformedInputWithTheFittingSentence) {
    const QString unreadable =
        QStringLiteral("Cannot read the current keyboard mappings. Use Ctrl+Alt+Space to record.");
    const QString unfamiliar =
        QStringLiteral("An unfamiliar keyboard mapping was found. No keys were changed.");
    const QString badValue =
        QStringLiteral("Cannot read a keyboard mapping. No keys were changed.");
    const QString different =
        QStringLiteral("Your keyboards have different custom mappings. Wispen left them "
                       "unchanged. Use Ctrl+Alt+Space to record.");
    const QByteArray src = R"("HIDKeyboardModifierMappingSrc": 1)";
    const QByteArray pair = "[{" + src + R"(, "HIDKeyboardModifierMappingDst": 2)";
    const QByteArray table = "RegistryID Key Value\n";
    // Entries whose destination is not an unsigned 64-bit integer; JSON rounds the last.
    QList<QByteArray> values;
    for (const char* value :
         {"\"\"", "\"-1\"", "\"12a\"", "\" 12\"", "\"18446744073709551616\"", "-1", "1.5", "true",
          "null", "[]", "{}", "1e300", "18446744073709551615"})
        values.append("[{" + src + R"(, "HIDKeyboardModifierMappingDst": )" + value + "}]");
    const std::pair<QString, QList<QByteArray>> cases[] = {
        // Not a list of dictionaries, or a table that is not one.
        {unreadable,
         {"", "{}", "5", "\"text\"", "[1]", "[[]]", pair + "}, 3]", "(null", "\xff\xfe",
          "<plist><array>", "RegistryID Key\n1 UserKeyMapping []", table,
          table + "junk\n1 UserKeyMapping []", table + "xyz UserKeyMapping []"}},
        // Entries with other keys, also in a table row.
        {unfamiliar,
         {pair + R"(, "x": 3}])", "[{" + src + "}]", "[{}]",
          "[{" + src + R"(, "hidkeyboardmodifiermappingdst": 2}])",
          table + "1 UserKeyMapping [{\"a\": 1}]"}},
        {badValue, values},
        {different, {table + "1 UserKeyMapping (null)\n2 UserKeyMapping " + pair + "}]"}},
    };
    for (const auto& [sentence, inputs] : cases) {
        for (const QByteArray& data : inputs)
            EXPECT_EQ(thrownBy([&] { parse(data); }), sentence) << data.constData();
    }
}

} // namespace
