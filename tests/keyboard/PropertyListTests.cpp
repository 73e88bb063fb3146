#include "PropertyList.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

// Binary property-list objects, written by hand so each test shows its bytes.
QByteArray asciiString(const QByteArray& text) {
    QByteArray out;
    if (text.size() < 15) {
        out.append(char(0x50 | text.size()));
    } else {
        out.append(char(0x5F));
        out.append(char(0x10));
        out.append(char(text.size()));
    }
    return out + text;
}

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

// A complete binary list over the objects, one-byte references, two-byte offsets.
QByteArray bplist(const QList<QByteArray>& objects, quint64 top = 0) {
    QByteArray out("bplist00");
    QList<int> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(int(out.size()));
        out += object;
    }
    const quint64 table = quint64(out.size());
    for (int offset : offsets) {
        out.append(char(offset >> 8));
        out.append(char(offset & 0xFF));
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2;
    trailer[7] = 1;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((quint64(objects.size()) >> (56 - 8 * i)) & 0xFF);
        trailer[16 + i] = char((top >> (56 - 8 * i)) & 0xFF);
        trailer[24 + i] = char((table >> (56 - 8 * i)) & 0xFF);
    }
    return out + trailer;
}

// [{HIDKeyboardModifierMappingSrc: 0xC000000CF, HIDKeyboardModifierMappingDst: 0x70000006F}]
QList<QByteArray> mappingObjects() {
    return {container(0xA1, {1}),
            container(0xD2, {2, 3, 4, 5}),
            asciiString("HIDKeyboardModifierMappingSrc"),
            asciiString("HIDKeyboardModifierMappingDst"),
            integer8(0xC000000CF),
            integer8(0x70000006F)};
}

QVariant mappingValue() {
    return QVariantList{QVariantMap{{"HIDKeyboardModifierMappingSrc", qint64(0xC000000CF)},
                                    {"HIDKeyboardModifierMappingDst", qint64(0x70000006F)}}};
}

TEST(PropertyListBinary, ReadsAMappingList) {
    EXPECT_EQ(PropertyList::read(bplist(mappingObjects())), mappingValue());
}

TEST(PropertyListBinary, ReadsScalars) {
    QByteArray unsignedMax("\x14", 1);
    unsignedMax += QByteArray(8, '\0') + QByteArray(8, '\xFF');
    QByteArray utf16("\x62\x00\x41\x00\xE9", 5); // "Aé" in UTF-16 big-endian
    QByteArray date("\x33\x00\x00\x00\x00\x00\x00\x00\x00", 9);
    QByteArray real("\x23\x3F\xF8\x00\x00\x00\x00\x00\x00", 9); // 1.5
    const QList<QByteArray> objects = {container(0xA8, {1, 2, 3, 4, 5, 6, 7, 8}),
                                       QByteArray("\x09", 1),
                                       QByteArray("\x08", 1),
                                       integer8(quint64(-5)),
                                       unsignedMax,
                                       utf16,
                                       date,
                                       real,
                                       QByteArray("\x42\x01\x02", 3)};
    const QVariantList values = PropertyList::read(bplist(objects)).value().toList();
    ASSERT_EQ(values.size(), 8);
    EXPECT_EQ(values[0], QVariant(true));
    EXPECT_EQ(values[1], QVariant(false));
    EXPECT_EQ(values[2], QVariant(qint64(-5)));
    EXPECT_EQ(values[3], QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(values[4], QVariant(QStringLiteral("A\u00e9")));
    EXPECT_EQ(values[5].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(values[6], QVariant(1.5));
    EXPECT_EQ(values[7], QVariant(QByteArray("\x01\x02", 2)));
}

TEST(PropertyListBinary, RefusesEveryTruncation) {
    // Shorter prefixes than "bplist" are plain words in the text form.
    const QByteArray whole = bplist(mappingObjects());
    for (qsizetype size = 6; size < whole.size(); ++size)
        EXPECT_FALSE(PropertyList::read(whole.left(size))) << "prefix of " << size << " bytes";
}

TEST(PropertyListBinary, SurvivesEveryCorruptedByte) {
    const QByteArray whole = bplist(mappingObjects());
    for (qsizetype at = 0; at < whole.size(); ++at) {
        for (int value : {0x00, 0x0F, 0x7F, 0x80, 0xFF}) {
            QByteArray damaged = whole;
            damaged[at] = char(value);
            (void)PropertyList::read(damaged); // any answer but a crash or an overrun
        }
    }
}

TEST(PropertyListBinary, RefusesHostileStructure) {
    // An array that contains itself.
    EXPECT_FALSE(PropertyList::read(bplist({container(0xA1, {0})})));
    // Two arrays that contain each other.
    EXPECT_FALSE(PropertyList::read(bplist({container(0xA1, {1}), container(0xA1, {0})})));
    // A reference past the last object.
    EXPECT_FALSE(PropertyList::read(bplist({container(0xA1, {7})})));
    // A count far beyond the data.
    EXPECT_FALSE(
        PropertyList::read(bplist({QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)})));
    // A string running into the offset table.
    EXPECT_FALSE(PropertyList::read(bplist({QByteArray("\x5E"
                                                       "abc",
                                                       4)})));
    // The top object out of range.
    EXPECT_FALSE(PropertyList::read(bplist(mappingObjects(), 6)));
    // Markers that have no place in a property list: null, UID, set.
    EXPECT_FALSE(PropertyList::read(bplist({QByteArray("\x00", 1)})));
    EXPECT_FALSE(PropertyList::read(bplist({QByteArray("\x80\x01", 2)})));
    EXPECT_FALSE(PropertyList::read(bplist({container(0xC1, {1}), QByteArray("\x09", 1)})));
    // A dictionary keyed by a number.
    EXPECT_FALSE(PropertyList::read(bplist({container(0xD1, {1, 1}), integer8(1)})));
    // Another version of the format.
    QByteArray other = bplist(mappingObjects());
    other.replace(6, 2, "01");
    EXPECT_FALSE(PropertyList::read(other));
}

TEST(PropertyListBinary, RefusesNestingBeyondTheLimit) {
    auto chain = [](int levels) {
        QList<QByteArray> objects;
        for (int i = 0; i < levels; ++i)
            objects.append(container(0xA1, {i + 1}));
        objects.append(QByteArray("\x09", 1));
        return bplist(objects);
    };
    EXPECT_TRUE(PropertyList::read(chain(PropertyList::maximumDepth)));
    EXPECT_FALSE(PropertyList::read(chain(PropertyList::maximumDepth + 1)));
}

TEST(PropertyListBinary, RefusesSharedObjectsThatExpandWithoutBound) {
    // Level i is [level i+1, level i+1]: 40 levels describe 2^40 values in a few bytes.
    QList<QByteArray> objects;
    for (int i = 0; i < 40; ++i)
        objects.append(container(0xA2, {i + 1, i + 1}));
    objects.append(QByteArray("\x09", 1));
    EXPECT_FALSE(PropertyList::read(bplist(objects)));
    // A modest sharing stays readable.
    EXPECT_EQ(PropertyList::read(bplist({container(0xA2, {1, 1}), QByteArray("\x09", 1)})),
              QVariant(QVariantList{true, true}));
}

TEST(PropertyListXml, ReadsAMappingList) {
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
  <!-- the microphone key -->
  <dict>
    <key>HIDKeyboardModifierMappingSrc</key><integer>51539607759</integer>
    <key>HIDKeyboardModifierMappingDst</key><integer>30064771183</integer>
  </dict>
</array>
</plist>
)";
    EXPECT_EQ(PropertyList::read(xml), mappingValue());
}

TEST(PropertyListXml, ReadsScalars) {
    const QByteArray xml = R"(<plist version="1.0"><array>
<string>a &amp; b</string><integer>-12</integer><integer>18446744073709551615</integer>
<integer>0x10</integer><real>2.5</real><true/><false/><data>AQI=
</data><date>2001-01-01T00:00:00Z</date><dict/></array></plist>)";
    const QVariantList values = PropertyList::read(xml).value().toList();
    ASSERT_EQ(values.size(), 10);
    EXPECT_EQ(values[0], QVariant(QStringLiteral("a & b")));
    EXPECT_EQ(values[1], QVariant(qint64(-12)));
    EXPECT_EQ(values[2], QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(values[3], QVariant(qint64(16)));
    EXPECT_EQ(values[4], QVariant(2.5));
    EXPECT_EQ(values[5], QVariant(true));
    EXPECT_EQ(values[6], QVariant(false));
    EXPECT_EQ(values[7], QVariant(QByteArray("\x01\x02", 2)));
    EXPECT_EQ(values[8].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(values[9], QVariant(QVariantMap{}));
}

TEST(PropertyListXml, RefusesMalformedDocuments) {
    const QList<QByteArray> bad = {
        "<plist><array><integer>1</integer></plist>",                         // unbalanced
        "<plist><array><integer>12a</integer></array></plist>",               // not a number
        "<plist><integer>18446744073709551616</integer></plist>",             // beyond 64 bits
        "<plist><dict><integer>1</integer></dict></plist>",                   // value without key
        "<plist><dict><key>a</key></dict></plist>",                           // key without value
        "<plist><dict><key>a</key><true/><key>a</key><true/></dict></plist>", // key twice
        "<plist><array>text</array></plist>",                                 // stray text
        "<plist><true>yes</true></plist>",
        "<plist><data>A!==</data></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><widget/></plist>",
        "<plist><true/><true/></plist>", // two values
        "<plist></plist>",
        "<plist><string><b>x</b></string></plist>",
    };
    for (const QByteArray& xml : bad)
        EXPECT_FALSE(PropertyList::read(xml)) << xml.constData();
}

TEST(PropertyListXml, RefusesNestingBeyondTheLimit) {
    auto nested = [](int levels) {
        return "<plist>" + QByteArray("<array>").repeated(levels) +
               QByteArray("</array>").repeated(levels) + "</plist>";
    };
    EXPECT_TRUE(PropertyList::read(nested(PropertyList::maximumDepth)));
    EXPECT_FALSE(PropertyList::read(nested(100000)));
}

TEST(PropertyListText, ReadsTheBracketedForm) {
    const QByteArray text = R"((
    {
        HIDKeyboardModifierMappingDst = 30064771183;
        HIDKeyboardModifierMappingSrc = 51539607759; // the microphone key
    }
))";
    EXPECT_EQ(
        PropertyList::read(text),
        QVariant(QVariantList{QVariantMap{{"HIDKeyboardModifierMappingSrc", "51539607759"},
                                          {"HIDKeyboardModifierMappingDst", "30064771183"}}}));
}

TEST(PropertyListText, ReadsStringsDataAndComments) {
    const QByteArray text =
        R"( /* a list */ ( "quoted \"x\"\n", 'single', <0102 0aFF>, "\U00e9\101", (), {}, ))";
    const QVariantList values = PropertyList::read(text).value().toList();
    ASSERT_EQ(values.size(), 6);
    EXPECT_EQ(values[0], QVariant(QStringLiteral("quoted \"x\"\n")));
    EXPECT_EQ(values[1], QVariant(QStringLiteral("single")));
    EXPECT_EQ(values[2], QVariant(QByteArray("\x01\x02\x0a\xff", 4)));
    EXPECT_EQ(values[3], QVariant(QStringLiteral("\u00e9A")));
    EXPECT_EQ(values[4], QVariant(QVariantList{}));
    EXPECT_EQ(values[5], QVariant(QVariantMap{}));
}

TEST(PropertyListText, RefusesMalformedText) {
    const QList<QByteArray> bad = {
        "",         "(",      "(a b)", "{ a = b }", "{ a = b; a = c; }",
        "{ = b; }", "\"open", "<0g>",  "<012>",     "(a) b",
        "/* open",  "a = b;", "(,)",   "{ a; }",    "\xff\xfe(",
    };
    for (const QByteArray& text : bad)
        EXPECT_FALSE(PropertyList::read(text)) << text.constData();
    EXPECT_FALSE(PropertyList::read(QByteArray("(").repeated(100000)));
}

} // namespace
