#include "MicrophoneMapping.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

// Binary property-list objects, written by hand so each test shows its bytes.
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

const QByteArray yes("\x09", 1);

// A complete binary list over the objects, with one-byte references.
QByteArray bplist(const QList<QByteArray>& objects, quint64 top = 0, int offsetSize = 2) {
    QByteArray out("bplist00");
    QList<int> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(int(out.size()));
        out += object;
    }
    const quint64 table = quint64(out.size());
    for (int offset : offsets) {
        for (int shift = 8 * (offsetSize - 1); shift >= 0; shift -= 8)
            out.append(char((offset >> shift) & 0xFF));
    }
    QByteArray trailer(32, '\0');
    trailer[6] = char(offsetSize);
    trailer[7] = 1;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((quint64(objects.size()) >> (56 - 8 * i)) & 0xFF);
        trailer[16 + i] = char((top >> (56 - 8 * i)) & 0xFF);
        trailer[24 + i] = char((table >> (56 - 8 * i)) & 0xFF);
    }
    return out + trailer;
}

// [{HIDKeyboardModifierMappingSrc: 0xC000000CF, HIDKeyboardModifierMappingDst: 0x70000006E}]
const QList<QByteArray> mappingObjects = {container(0xA1, {1}),
                                          container(0xD2, {2, 3, 4, 5}),
                                          "\x5F\x10\x1DHIDKeyboardModifierMappingSrc",
                                          "\x5F\x10\x1DHIDKeyboardModifierMappingDst",
                                          integer8(0xC000000CF),
                                          integer8(0x70000006E)};

QVariant mapping(const QVariant& source, const QVariant& destination) {
    return QVariantList{QVariantMap{{"HIDKeyboardModifierMappingSrc", source},
                                    {"HIDKeyboardModifierMappingDst", destination}}};
}

// The microphone-key mapping in every form a list comes in. Prefixes shorter than
// "bplist" are plain words in the text form, so truncation starts there.
const struct Form {
    const char* name;
    QByteArray document;
    QVariant value;
    int shortestTruncation = 0;
} forms[] = {
    {"binary", bplist(mappingObjects), mapping(qint64(0xC000000CF), qint64(0x70000006E)), 6},
    {"binary, one-byte offsets", bplist(mappingObjects, 0, 1),
     mapping(qint64(0xC000000CF), qint64(0x70000006E)), 6},
    {"XML", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
  <!-- the microphone key -->
  <dict>
    <key>HIDKeyboardModifierMappingSrc</key><integer>51539607759</integer>
    <key>HIDKeyboardModifierMappingDst</key><integer>30064771182</integer>
  </dict>
</array>
</plist>)",
     mapping(qint64(51539607759), qint64(30064771182))},
    {"text", R"((
    {
        HIDKeyboardModifierMappingDst = 30064771182;
        HIDKeyboardModifierMappingSrc = 51539607759; // the microphone key
    }
))",
     mapping("51539607759", "30064771182")},
};

TEST(PropertyList, ReadsAMappingListInEveryForm) {
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        EXPECT_EQ(PropertyList::read(form.document), form.value);
        EXPECT_EQ(MicrophoneMapping::parse(form.document),
                  MicrophoneMapping::MappingList{MicrophoneMapping::entry()});
    }
}

TEST(PropertyList, RefusesEveryTruncationAndSurvivesEveryCorruptedByte) {
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        const QByteArray& whole = form.document;
        for (qsizetype size = form.shortestTruncation; size < whole.size(); ++size)
            EXPECT_FALSE(PropertyList::read(whole.left(size))) << "prefix of " << size;
        for (qsizetype at = 0; at < whole.size(); ++at) {
            for (int value : {0x00, 0x0F, 0x7F, 0x80, 0xFF}) {
                QByteArray damaged = whole;
                damaged[at] = char(value);
                (void)PropertyList::read(damaged); // any answer but a crash or an overrun
            }
        }
    }
}

TEST(PropertyList, ReadsBinaryScalars) {
    const QByteArray unsignedMax = "\x14" + QByteArray(8, '\0') + QByteArray(8, '\xFF');
    const QList<QByteArray> objects = {
        container(0xA8, {1, 2, 3, 4, 5, 6, 7, 8}),
        yes,
        QByteArray("\x08", 1),
        integer8(quint64(-5)),
        unsignedMax,
        QByteArray("\x62\x00\x41\x00\xE9", 5),                 // "Aé" in UTF-16 big-endian
        QByteArray("\x33\x00\x00\x00\x00\x00\x00\x00\x00", 9), // the reference date
        QByteArray("\x23\x3F\xF8\x00\x00\x00\x00\x00\x00", 9), // 1.5
        QByteArray("\x42\x01\x02", 3)};
    const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_EQ(PropertyList::read(bplist(objects)),
              QVariant(QVariantList{true, false, qint64(-5), std::numeric_limits<quint64>::max(),
                                    QStringLiteral("A\u00e9"), referenceDate, 1.5,
                                    QByteArray("\x01\x02", 2)}));
}

TEST(PropertyList, ReadsXmlScalars) {
    const QByteArray xml = R"(<plist version="1.0"><array>
<string>a &amp; b</string><integer>-12</integer><integer>18446744073709551615</integer>
<integer>0x10</integer><real>2.5</real><true/><false/><data>AQI=
</data><date>2001-01-01T00:00:00Z</date><dict/></array></plist>)";
    EXPECT_EQ(PropertyList::read(xml),
              QVariant(QVariantList{
                  QStringLiteral("a & b"), qint64(-12), std::numeric_limits<quint64>::max(),
                  qint64(16), 2.5, true, false, QByteArray("\x01\x02", 2),
                  QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()), QVariantMap{}}));
}

TEST(PropertyList, ReadsTextStringsDataAndComments) {
    const QByteArray text =
        R"( /* a list */ ( "quoted \"x\"\n", 'single', <0102 0aFF>, "\U00e9\101", (), {}, ))";
    EXPECT_EQ(PropertyList::read(text),
              QVariant(QVariantList{QStringLiteral("quoted \"x\"\n"), QStringLiteral("single"),
                                    QByteArray("\x01\x02\x0a\xff", 4), QStringLiteral("\u00e9A"),
                                    QVariantList{}, QVariantMap{}}));
}

TEST(PropertyList, RefusesHostileBinaryStructure) {
    QByteArray otherVersion = bplist(mappingObjects);
    otherVersion.replace(6, 2, "01");
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
        {"null", bplist({QByteArray("\x00", 1)})},
        {"a UID", bplist({QByteArray("\x80\x01", 2)})},
        {"a set", bplist({container(0xC1, {1}), yes})},
        {"a dictionary keyed by a number", bplist({container(0xD1, {1, 1}), integer8(1)})},
        {"another version of the format", otherVersion},
    };
    for (const auto& [what, data] : cases)
        EXPECT_FALSE(PropertyList::read(data)) << what;
}

// In every form a value may sit at most maximumDepth containers deep.
TEST(PropertyList, RefusesNestingBeyondTheLimitInEveryForm) {
    const std::pair<const char*, std::function<QByteArray(int)>> nestings[] = {
        {"binary",
         [](int levels) {
             QList<QByteArray> objects;
             for (int i = 0; i < levels; ++i)
                 objects.append(container(0xA1, {i + 1}));
             return bplist(objects + QList<QByteArray>{yes});
         }},
        {"XML",
         [](int levels) {
             return "<plist>" + QByteArray("<array>").repeated(levels) + "<true/>" +
                    QByteArray("</array>").repeated(levels) + "</plist>";
         }},
        {"text",
         [](int levels) {
             return QByteArray("(").repeated(levels) + "a" + QByteArray(")").repeated(levels);
         }},
    };
    for (const auto& [form, nested] : nestings) {
        SCOPED_TRACE(form);
        EXPECT_TRUE(PropertyList::read(nested(PropertyList::maximumDepth)));
        EXPECT_FALSE(PropertyList::read(nested(PropertyList::maximumDepth + 1)));
        if (std::string(form) != "binary") { // one-byte references reach 255 objects
            EXPECT_FALSE(PropertyList::read(nested(100000)));
        }
    }
}

TEST(PropertyList, RefusesSharedBinaryObjectsThatExpandWithoutBound) {
    // Level i is [level i+1, level i+1]: 40 levels describe 2^40 values in a few bytes.
    QList<QByteArray> objects;
    for (int i = 0; i < 40; ++i)
        objects.append(container(0xA2, {i + 1, i + 1}));
    EXPECT_FALSE(PropertyList::read(bplist(objects + QList<QByteArray>{yes})));
    // A modest sharing stays readable.
    EXPECT_EQ(PropertyList::read(bplist({container(0xA2, {1, 1}), yes})),
              QVariant(QVariantList{true, true}));
}

TEST(PropertyList, RefusesMalformedXmlAndText) {
    const QList<QByteArray> bad = {
        "<plist><array><integer>1</integer></plist>",
        "<plist><array><integer>12a</integer></array></plist>",
        "<plist><integer>18446744073709551616</integer></plist>",
        "<plist><dict><integer>1</integer></dict></plist>",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><key>a</key><true/><key>a</key><true/></dict></plist>",
        "<plist><array>text</array></plist>",
        "<plist><true>yes</true></plist>",
        "<plist><data>A!==</data></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><widget/></plist>",
        "<plist><true/><true/></plist>",
        "<plist></plist>",
        "<plist><string><b>x</b></string></plist>",
        "",
        "(",
        "(a b)",
        "{ a = b }",
        "{ a = b; a = c; }",
        "{ = b; }",
        "\"open",
        "<0g>",
        "<012>",
        "(a) b",
        "/* open",
        "a = b;",
        "(,)",
        "{ a; }",
        "\xff\xfe("};
    for (const QByteArray& document : bad)
        EXPECT_FALSE(PropertyList::read(document)) << document.constData();
}

} // namespace
