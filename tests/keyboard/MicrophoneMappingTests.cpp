#include "MicrophoneMapping.h"
#include "ZedazidEdize.h"

#include <gtest/gtest.h>

using namespace MicrophoneMapping;

namespace {

const Entry f15Entry{source, legacyDestination};
const Entry capsToControl{0x700000039, 0x7000000E0};

template <typename F> QString thrownBy(F&& f) {
    try {
        f();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QString());
    }
    return QStringLiteral("(nothing thrown)");
}

TEST(MicrophoneMapping, AddingPutsOurEntryFirstOrRefusesAKeyMappedElsewhere) {
    const struct {
        MappingList list;
        quint64 source;
        std::optional<MappingList> expected; // nothing: refused
    } cases[] = {
        {{capsToControl}, source, MappingList{capsToControl, entry()}},
        {{capsToControl, entry(), f15Entry}, source, MappingList{capsToControl, entry(), f15Entry}},
        // Our entry goes ahead of legacy F15 entries.
        {{capsToControl, f15Entry, f15Entry},
         source,
         MappingList{entry(), capsToControl, f15Entry, f15Entry}},
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
            EXPECT_EQ(thrownBy([&] { adding(c.list, c.source); }),
                      "The microphone key already has a custom mapping. Disable that mapping "
                      "first; Wispen has left it intact.");
    }
    EXPECT_EQ(removing({capsToControl, entry(), f15Entry, entry(), entry(keyboardF5)}),
              (MappingList{capsToControl, f15Entry, entry(keyboardF5)}));
}

TEST(MicrophoneMapping, ParseReadsAListOrATableOfServices) {
    const QByteArray row = "( { HIDKeyboardModifierMappingDst = 30064771182;\n"
                           "    HIDKeyboardModifierMappingSrc = 51539607759; } )\n";
    const std::pair<QByteArray, MappingList> cases[] = {
        {"\n  (null)\n\n", {}},
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
    const QByteArray src = R"("HIDKeyboardModifierMappingSrc": 1)";
    const QByteArray pair = "[{" + src + R"(, "HIDKeyboardModifierMappingDst": )";
    const QByteArray table = "RegistryID Key Value\n";
    // Destinations that are not an unsigned 64-bit integer; JSON rounds the last.
    QList<QByteArray> values;
    for (const char* value :
         {"\"-1\"", "\"12a\"", "\"18446744073709551616\"", "-1", "1.5", "true", "1e300"})
        values.append(pair + value + "}]");
    const std::pair<QString, QList<QByteArray>> cases[] = {
        // Not a list of dictionaries, or a table that is not one.
        {"Cannot read the current keyboard mappings. Use Ctrl+Alt+Space to record.",
         {"", "{}", "[1]", pair + "2}, 3]", "(null", "\xff\xfe",
          "RegistryID Key\n1 UserKeyMapping []", table, table + "junk\n1 UserKeyMapping []"}},
        // Entries with other keys, also in a table row.
        {"An unfamiliar keyboard mapping was found. No keys were changed.",
         {pair + R"(2, "x": 3}])", "[{" + src + "}]", table + "1 UserKeyMapping [{\"a\": 1}]"}},
        {"Cannot read a keyboard mapping. No keys were changed.", values},
        {"Your keyboards have different custom mappings. Wispen left them unchanged. Use "
         "Ctrl+Alt+Space to record.",
         {table + "1 UserKeyMapping (null)\n2 UserKeyMapping " + pair + "2}]"}},
    };
    for (const auto& [sentence, inputs] : cases) {
        for (const QByteArray& data : inputs)
            EXPECT_EQ(thrownBy([&] { parse(data); }), sentence) << data.constData();
    }
}

} // namespace
