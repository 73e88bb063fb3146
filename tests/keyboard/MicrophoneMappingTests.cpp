// The mapping rules, and the reading of stored mapping lists: JSON, a property list
// in each of its three forms, or a table of services. Rows check what the fuzzer
// cannot judge: the exact refusals (it only sees that nothing crashes).
#include "PropertyList.h"
#include "SimulatedInputDevices.h"

#include <gtest/gtest.h>

using namespace MicrophoneMapping;
using KeyboardTest::thrownBy;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    return QByteArray::fromStdString(std::string(values.begin(), values.end()));
}

// A complete binary property list over hand-written objects, with one-byte
// references and two-byte offsets.
QByteArray bplist(const QList<QByteArray>& objects, int top = 0) {
    QByteArray out("bplist00"), table;
    for (const QByteArray& object : objects) {
        table += bytes({int(out.size()) >> 8, int(out.size())});
        out += object;
    }
    const int count = int(objects.size()), at = int(out.size());
    return out + table + QByteArray(6, '\0') + bytes({2, 1}) + QByteArray(7, '\0') +
           bytes({count}) + QByteArray(7, '\0') + bytes({top}) + QByteArray(6, '\0') +
           bytes({at >> 8, at});
}

// [{HIDKeyboardModifierMappingSrc: 0xC000000CF, HIDKeyboardModifierMappingDst: 0x70000006E}];
// the keys are long enough to need an extended count.
const QByteArray binaryMapping = bplist(
    {bytes({0xA1, 1}), bytes({0xD2, 2, 3, 4, 5}), "\x5F\x10\x1DHIDKeyboardModifierMappingSrc",
     "\x5F\x10\x1DHIDKeyboardModifierMappingDst", bytes({0x13, 0, 0, 0, 0x0C, 0, 0, 0, 0xCF}),
     bytes({0x13, 0, 0, 0, 0x07, 0, 0, 0, 0x6E})});

TEST(MicrophoneMapping, AddingPutsOurEntryFirstOrRefusesAKeyMappedElsewhere) {
    const Entry f15{source, legacyDestination}, caps{0x700000039, 0x7000000E0};
    const std::pair<MappingList, std::optional<MappingList>> cases[] = {
        {{caps}, MappingList{caps, entry()}},
        {{caps, entry(), f15}, MappingList{caps, entry(), f15}},
        {{caps, f15, f15}, MappingList{entry(), caps, f15, f15}}, // ahead of older F15 entries
        {{f15, {source, keyboardF5}}, std::nullopt},
        {{{source, keyboardF5}, entry()}, std::nullopt},
    };
    for (const auto& [list, expected] : cases) {
        if (expected)
            EXPECT_EQ(adding(list, source), *expected);
        else
            EXPECT_EQ(thrownBy([&] { adding(list, source); }),
                      "The microphone key already has a custom mapping. Disable that mapping "
                      "first; Wispen has left it intact.");
    }
    EXPECT_EQ(removing({caps, entry(), f15, entry(), entry(keyboardF5)}),
              (MappingList{caps, f15, entry(keyboardF5)}));
}

TEST(MicrophoneMapping, ParseReadsEveryFormAndRefusesEachTruncation) {
    const QByteArray text = "( { HIDKeyboardModifierMappingDst = 30064771182;\n"
                            "    HIDKeyboardModifierMappingSrc = 51539607759; // the key\n} )";
    const QByteArray plists[] = {
        binaryMapping, text,
        R"(<?xml version="1.0"?><!DOCTYPE plist><plist version="1.0"><array><dict><!-- ours -->
<key>HIDKeyboardModifierMappingSrc</key><integer>51539607759</integer>
<key>HIDKeyboardModifierMappingDst</key><integer>30064771182</integer></dict></array></plist>)"};
    for (const QByteArray& document : plists) {
        EXPECT_EQ(parse(document), MappingList{entry()}) << document.constData();
        for (qsizetype size = document.startsWith("bplist") ? 6 : 0; size < document.size(); ++size)
            EXPECT_FALSE(PropertyList::read(document.left(size))) << size << document.constData();
    }
    EXPECT_EQ(parse("RegistryID Key Value\n100000abc\tUserKeyMapping " + text +
                    "\n1DEF UserKeyMapping " + text),
              MappingList{entry()});
    EXPECT_EQ(PropertyList::read("(<0aFF>, \"\\101\", a:b.c)"),
              QVariant(QVariantList{QByteArray("\x0a\xff", 2), QStringLiteral("A"), "a:b.c"}));
}

TEST(MicrophoneMapping, ParseRefusesMalformedInputWithTheFittingSentence) {
    const QByteArray pair =
        R"([{"HIDKeyboardModifierMappingSrc": 1, "HIDKeyboardModifierMappingDst": )";
    const QByteArray table = "RegistryID Key Value\n";
    // Binary lists that contain themselves or point outside, and malformed XML and text:
    // each is refused, never read in part.
    const QByteArray malformed[] = {
        bplist({bytes({0xA1, 0})}),
        bplist({bytes({0xA1, 7})}),
        bplist({bytes({0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}),
        bplist({bytes({0x5E, 'a', 'b', 'c'})}),
        "<plist><array><integer>1</integer></plist>",
        "<plist><dict><key>a</key><true/><key>a</key><true/></dict></plist>",
        "(a b)",
        "(<0g>)",
        "(,)"};
    for (const QByteArray& data : malformed)
        EXPECT_FALSE(PropertyList::read(data)) << data.toHex().constData();
    const std::pair<QString, QList<QByteArray>> cases[] = {
        {"Cannot read the current keyboard mappings. Use Ctrl+Alt+Space to record.",
         {"[1]", "\xff\xfe", table + "junk\n1 UserKeyMapping []"}},
        {"An unfamiliar keyboard mapping was found. No keys were changed.",
         {pair + R"(2, "x": 3}])"}},
        // Destinations that are not an unsigned 64-bit integer.
        {"Cannot read a keyboard mapping. No keys were changed.", {pair + "-1}]", pair + "1.5}]"}},
    };
    for (const auto& [sentence, inputs] : cases) {
        for (const QByteArray& data : inputs)
            EXPECT_EQ(thrownBy([&] { parse(data); }), sentence) << data.toHex().constData();
    }
}

} // namespace
