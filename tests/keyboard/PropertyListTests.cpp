// The property-list reader: the mapping list in each of its three forms, and the
// exact refusals the fuzzer cannot judge (it only sees that nothing crashes).
#include "MicrophoneMapping.h"
#include "PropertyList.h"

#include <gtest/gtest.h>

namespace {

QByteArray integer8(quint64 value) {
    QByteArray out(1, char(0x13));
    for (int shift = 56; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
    return out;
}

QByteArray container(quint8 marker, const QList<int>& refs) {
    QByteArray out(1, char(marker));
    for (int ref : refs)
        out.append(char(ref));
    return out;
}

// A complete binary list over hand-written objects, with one-byte references.
QByteArray bplist(const QList<QByteArray>& objects, quint64 top = 0) {
    QByteArray out("bplist00");
    QByteArray table;
    for (const QByteArray& object : objects) {
        table.append(char(out.size() >> 8)).append(char(out.size() & 0xFF));
        out += object;
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2;
    trailer[7] = 1;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((quint64(objects.size()) >> (56 - 8 * i)) & 0xFF);
        trailer[16 + i] = char((top >> (56 - 8 * i)) & 0xFF);
        trailer[24 + i] = char((quint64(out.size()) >> (56 - 8 * i)) & 0xFF);
    }
    return out + table + trailer;
}

const QByteArray yes("\x09", 1);

// [{HIDKeyboardModifierMappingSrc: 0xC000000CF, HIDKeyboardModifierMappingDst: 0x70000006E}];
// the keys are long enough to need an extended count.
const QList<QByteArray> mappingObjects = {container(0xA1, {1}),
                                          container(0xD2, {2, 3, 4, 5}),
                                          "\x5F\x10\x1DHIDKeyboardModifierMappingSrc",
                                          "\x5F\x10\x1DHIDKeyboardModifierMappingDst",
                                          integer8(0xC000000CF),
                                          integer8(0x70000006E)};

TEST(PropertyList, ReadsTheMappingListInEveryFormAndRefusesEachTruncation) {
    const std::pair<QByteArray, qsizetype> forms[] = {
        {bplist(mappingObjects), 6}, // shorter prefixes are words of the text form
        {R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><array><!-- the microphone key --><dict>
  <key>HIDKeyboardModifierMappingSrc</key><integer>51539607759</integer>
  <key>HIDKeyboardModifierMappingDst</key><integer>30064771182</integer>
</dict></array></plist>)",
         0},
        {R"(( { HIDKeyboardModifierMappingDst = 30064771182;
    HIDKeyboardModifierMappingSrc = 51539607759; // the microphone key
} ))",
         0},
    };
    for (const auto& [document, shortest] : forms) {
        SCOPED_TRACE(document.constData());
        EXPECT_EQ(MicrophoneMapping::parse(document),
                  MicrophoneMapping::MappingList{MicrophoneMapping::entry()});
        for (qsizetype size = shortest; size < document.size(); ++size)
            EXPECT_FALSE(PropertyList::read(document.left(size))) << "prefix of " << size;
    }
}

TEST(PropertyList, ReadsTextStringsEscapesAndData) {
    const QByteArray text =
        R"( /* a list */ ( "q \"x\"\n", 'single', a_b$c:d.e, <0102 0aFF>, "\U00e9F\101\7", (), {}, ))";
    EXPECT_EQ(PropertyList::read(text),
              QVariant(QVariantList{QStringLiteral("q \"x\"\n"), QStringLiteral("single"),
                                    QStringLiteral("a_b$c:d.e"), QByteArray("\x01\x02\x0a\xff", 4),
                                    QStringLiteral("\u00e9FA\a"), QVariantList{}, QVariantMap{}}));
}

TEST(PropertyList, RefusesHostileBinaryStructure) {
    QByteArray otherVersion = bplist(mappingObjects);
    otherVersion.replace(6, 2, "01");
    QList<QByteArray> doubling; // level i is [level i+1, level i+1]: 2^40 values
    for (int i = 0; i < 40; ++i)
        doubling.append(container(0xA2, {i + 1, i + 1}));
    const std::pair<const char*, QByteArray> cases[] = {
        {"an array that contains itself", bplist({container(0xA1, {0})})},
        {"two arrays that contain each other",
         bplist({container(0xA1, {1}), container(0xA1, {0})})},
        {"a reference past the last object", bplist({container(0xA1, {7})})},
        {"a count far beyond the data",
         bplist({QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)})},
        {"a string running into the offset table", bplist({QByteArray("\x5E"
                                                                      "abc")})},
        {"the top object out of range", bplist(mappingObjects, 6)},
        {"a set", bplist({container(0xC1, {1}), yes})},
        {"a dictionary keyed by a number", bplist({container(0xD1, {1, 1}), integer8(1)})},
        {"another version of the format", otherVersion},
        {"shared objects without bound", bplist(doubling + QList<QByteArray>{yes})},
    };
    for (const auto& [what, data] : cases)
        EXPECT_FALSE(PropertyList::read(data)) << what;
    // A modest sharing stays readable.
    EXPECT_EQ(PropertyList::read(bplist({container(0xA2, {1, 1}), yes})),
              QVariant(QVariantList{true, true}));
}

// In every form a value may sit at most maximumDepth containers deep.
TEST(PropertyList, RefusesNestingBeyondTheLimitInEveryForm) {
    const std::function<QByteArray(int)> nestings[] = {
        [](int levels) {
            QList<QByteArray> objects;
            for (int i = 0; i < levels; ++i)
                objects.append(container(0xA1, {i + 1}));
            return bplist(objects + QList<QByteArray>{yes});
        },
        [](int levels) {
            return "<plist>" + QByteArray("<array>").repeated(levels) + "<true/>" +
                   QByteArray("</array>").repeated(levels) + "</plist>";
        },
        [](int levels) {
            return QByteArray("(").repeated(levels) + "a" + QByteArray(")").repeated(levels);
        },
    };
    for (const auto& nested : nestings) {
        EXPECT_TRUE(PropertyList::read(nested(PropertyList::maximumDepth)));
        EXPECT_FALSE(PropertyList::read(nested(PropertyList::maximumDepth + 1)));
    }
    EXPECT_FALSE(PropertyList::read(nestings[2](100000)));
}

TEST(PropertyList, RefusesMalformedXmlAndText) {
    const QList<QByteArray> bad = {
        "<plist><array><integer>1</integer></plist>",
        "<plist><integer>12a</integer></plist>",
        "<plist><integer>18446744073709551616</integer></plist>",
        "<plist><dict><integer>1</integer></dict></plist>",
        "<plist><dict><key>a</key><true/><key>a</key><true/></dict></plist>",
        "<plist><array>text</array></plist>",
        "<plist><widget/></plist>",
        "<plist><true/><true/></plist>",
        "<plist><string><b>x</b></string></plist>",
        "(a b)",
        "{ a = b; a = c; }",
        "{ = b; }",
        "\"open",
        "<0g>",
        "<012>",
        "(a) b",
        "/* open",
        "(,)",
        "\xff\xfe("};
    for (const QByteArray& document : bad)
        EXPECT_FALSE(PropertyList::read(document)) << document.constData();
}

} // namespace
