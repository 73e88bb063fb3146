#include "PropertyList.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Every reader reports a malformed input by throwing this; read() turns it into
// an empty result, so no partial value escapes.
struct Malformed {};

// Seconds between the Unix epoch and the property-list epoch (2001-01-01 UTC).
constexpr double referenceDateOffsetS = 978307200.0;

bool isWhitespace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v';
}

QVariant integerValue(bool negative, quint64 magnitude) {
    constexpr quint64 signedMax = quint64(std::numeric_limits<qint64>::max());
    if (!negative)
        return magnitude <= signedMax ? QVariant(qint64(magnitude)) : QVariant(magnitude);
    if (magnitude > signedMax + 1)
        throw Malformed{};
    return QVariant(magnitude == signedMax + 1 ? std::numeric_limits<qint64>::min()
                                               : -qint64(magnitude));
}

QDateTime dateFromReference(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14)
        throw Malformed{};
    const qint64 ms = qint64(std::llround((seconds + referenceDateOffsetS) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

// ---------------------------------------------------------------------------
// Binary form: "bplist00", objects, an offset table and a 32-byte trailer.

class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& data)
        : m_data(data) {}

    QVariant read() {
        constexpr qsizetype headerSize = 8;
        constexpr qsizetype trailerSize = 32;
        const quint64 size = quint64(m_data.size());
        if (size < quint64(headerSize + 1 + trailerSize) || !m_data.startsWith("bplist00"))
            throw Malformed{};
        const quint64 trailer = size - trailerSize;
        m_offsetSize = byteAt(trailer + 6);
        m_refSize = byteAt(trailer + 7);
        m_objectCount = number(trailer + 8, 8);
        const quint64 top = number(trailer + 16, 8);
        m_tableOffset = number(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
            throw Malformed{};
        // Every object takes at least one byte between the header and the table.
        if (m_tableOffset < headerSize + 1 || m_tableOffset > trailer)
            throw Malformed{};
        if (m_objectCount == 0 || m_objectCount > m_tableOffset - headerSize ||
            top >= m_objectCount)
            throw Malformed{};
        if (m_objectCount * m_offsetSize > trailer - m_tableOffset)
            throw Malformed{};
        if (m_refSize < 8 && m_objectCount > (quint64(1) << (8 * m_refSize)))
            throw Malformed{};
        quint64 values = 0;
        int height = 0;
        return object(top, 0, values, height);
    }

private:
    struct Decoded {
        QVariant value;
        quint64 values = 0; // this object and everything below it, repetitions counted
        int height = 0;     // levels of containers from this object down, itself included
    };

    quint64 byteAt(quint64 at) const {
        if (at >= quint64(m_data.size()))
            throw Malformed{};
        return quint8(m_data.at(qsizetype(at)));
    }

    // A big-endian unsigned number of `width` (1..8) bytes.
    quint64 number(quint64 at, quint64 width) const {
        if (width > quint64(m_data.size()) || at > quint64(m_data.size()) - width)
            throw Malformed{};
        quint64 value = 0;
        for (quint64 i = 0; i < width; ++i)
            value = (value << 8) | quint8(m_data.at(qsizetype(at + i)));
        return value;
    }

    // Checks that `count` items of `width` bytes from `at` lie before the offset table,
    // and returns the position just past them.
    quint64 span(quint64 at, quint64 count, quint64 width) const {
        if (at > m_tableOffset || count > (m_tableOffset - at) / width)
            throw Malformed{};
        return at + count * width;
    }

    quint64 offsetOf(quint64 ref) const {
        if (ref >= m_objectCount)
            throw Malformed{};
        const quint64 offset = number(m_tableOffset + ref * m_offsetSize, m_offsetSize);
        if (offset < 8 || offset >= m_tableOffset)
            throw Malformed{};
        return offset;
    }

    // The item count of a string, data or container object at `at` whose marker
    // nibble is `info`; `at` moves past the marker and any extended count.
    quint64 count(quint64& at, quint64 info) const {
        ++at;
        if (info != 0xF)
            return info;
        const quint64 marker = byteAt(at);
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3)
            throw Malformed{};
        const quint64 width = quint64(1) << (marker & 0x0F);
        const quint64 value = number(at + 1, width);
        at += 1 + width;
        return value;
    }

    // The object `ref` at nesting `depth`; adds its size to `values` and raises
    // `height` to its height. A shared object is decoded once and then reused.
    QVariant object(quint64 ref, int depth, quint64& values, int& height) {
        Decoded found;
        if (const auto known = m_decoded.constFind(ref); known != m_decoded.constEnd()) {
            found = *known;
        } else {
            if (depth > PropertyList::maximumDepth || m_inProgress.contains(ref))
                throw Malformed{};
            m_inProgress.insert(ref);
            found.values = 1;
            found.value = decode(offsetOf(ref), depth, found.values, found.height);
            found.height += 1;
            m_inProgress.remove(ref);
            m_decoded.insert(ref, found);
        }
        values += found.values;
        height = std::max(height, found.height);
        if (values > PropertyList::maximumValues ||
            depth + found.height > PropertyList::maximumDepth + 1)
            throw Malformed{};
        return found.value;
    }

    // The object at offset `at`; `values` and `height` collect what its children add.
    QVariant decode(quint64 at, int depth, quint64& values, int& height) {
        const quint64 marker = byteAt(at);
        const quint64 type = marker >> 4;
        const quint64 info = marker & 0x0F;
        switch (type) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                return QVariant(marker == 0x09);
            throw Malformed{};
        case 0x1: {
            if (info > 4)
                throw Malformed{};
            const quint64 width = quint64(1) << info;
            span(at + 1, 1, width);
            if (width == 16) {
                // Unsigned 64-bit values above the signed range are written in 16 bytes.
                if (number(at + 1, 8) != 0)
                    throw Malformed{};
                return QVariant(number(at + 9, 8));
            }
            // Narrower integers are unsigned; eight bytes hold a signed value.
            return QVariant(qint64(number(at + 1, width)));
        }
        case 0x2: {
            if (info != 2 && info != 3)
                throw Malformed{};
            const quint64 width = quint64(1) << info;
            span(at + 1, 1, width);
            const quint64 raw = number(at + 1, width);
            if (width == 4) {
                const quint32 bits = quint32(raw);
                float f;
                std::memcpy(&f, &bits, sizeof f);
                return QVariant(double(f));
            }
            double d;
            std::memcpy(&d, &raw, sizeof d);
            return QVariant(d);
        }
        case 0x3: {
            if (marker != 0x33)
                throw Malformed{};
            span(at + 1, 1, 8);
            const quint64 raw = number(at + 1, 8);
            double seconds;
            std::memcpy(&seconds, &raw, sizeof seconds);
            return QVariant(dateFromReference(seconds));
        }
        case 0x4: {
            const quint64 n = count(at, info);
            span(at, n, 1);
            return QVariant(m_data.mid(qsizetype(at), qsizetype(n)));
        }
        case 0x5: {
            const quint64 n = count(at, info);
            span(at, n, 1);
            const QByteArray bytes = m_data.mid(qsizetype(at), qsizetype(n));
            for (char c : bytes) {
                if (quint8(c) > 0x7F)
                    throw Malformed{};
            }
            return QVariant(QString::fromLatin1(bytes));
        }
        case 0x6: {
            const quint64 n = count(at, info);
            span(at, n, 2);
            QString text(qsizetype(n), Qt::Uninitialized);
            for (quint64 i = 0; i < n; ++i)
                text[qsizetype(i)] = QChar(char16_t(number(at + 2 * i, 2)));
            return QVariant(text);
        }
        case 0xA: {
            const quint64 n = count(at, info);
            span(at, n, m_refSize);
            QVariantList list;
            list.reserve(qsizetype(n));
            for (quint64 i = 0; i < n; ++i)
                list.append(
                    object(number(at + i * m_refSize, m_refSize), depth + 1, values, height));
            return QVariant(list);
        }
        case 0xD: {
            const quint64 n = count(at, info);
            span(at, n, 2 * m_refSize);
            QVariantMap map;
            for (quint64 i = 0; i < n; ++i) {
                const QVariant key =
                    object(number(at + i * m_refSize, m_refSize), depth + 1, values, height);
                if (key.typeId() != QMetaType::QString || map.contains(key.toString()))
                    throw Malformed{};
                map.insert(key.toString(), object(number(at + (n + i) * m_refSize, m_refSize),
                                                  depth + 1, values, height));
            }
            return QVariant(map);
        }
        default:
            // Null, fill, UIDs, sets and reserved markers do not occur in property lists.
            throw Malformed{};
        }
    }

    const QByteArray& m_data;
    quint64 m_offsetSize = 0;
    quint64 m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_tableOffset = 0;
    QHash<quint64, Decoded> m_decoded;
    QSet<quint64> m_inProgress;
};

// ---------------------------------------------------------------------------
// XML form.

class XmlReader {
public:
    explicit XmlReader(const QByteArray& data)
        : m_xml(data) {}

    QVariant read() {
        nextElement();
        QVariant value;
        if (m_xml.name() == u"plist") {
            nextElement();
            value = element(0);
            if (nextToken() != QXmlStreamReader::EndElement)
                throw Malformed{};
        } else {
            value = element(0);
        }
        if (nextToken() != QXmlStreamReader::EndDocument || m_xml.hasError())
            throw Malformed{};
        return value;
    }

private:
    // The next token that is not white space, a comment, a processing instruction or
    // the document type; any other character data is refused.
    QXmlStreamReader::TokenType nextToken() {
        for (;;) {
            const auto token = m_xml.readNext();
            switch (token) {
            case QXmlStreamReader::Invalid:
                throw Malformed{};
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace())
                    throw Malformed{};
                continue;
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            default:
                return token;
            }
        }
    }

    void nextElement() {
        if (nextToken() != QXmlStreamReader::StartElement)
            throw Malformed{};
    }

    // The text of a leaf element; nested elements are refused.
    QString text() {
        QString text;
        for (;;) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::Characters || token == QXmlStreamReader::EntityReference)
                text += m_xml.text();
            else if (token == QXmlStreamReader::Comment)
                continue;
            else if (token == QXmlStreamReader::EndElement)
                return text;
            else
                throw Malformed{};
        }
    }

    // The value of the element the reader stands on; ends on its end tag.
    QVariant element(int depth) {
        if (depth > PropertyList::maximumDepth)
            throw Malformed{};
        const QStringView name = m_xml.name();
        if (name == u"dict") {
            QVariantMap map;
            while (nextToken() == QXmlStreamReader::StartElement) {
                if (m_xml.name() != u"key")
                    throw Malformed{};
                const QString key = text();
                if (map.contains(key))
                    throw Malformed{};
                nextElement();
                map.insert(key, element(depth + 1));
            }
            return map;
        }
        if (name == u"array") {
            QVariantList list;
            while (nextToken() == QXmlStreamReader::StartElement)
                list.append(element(depth + 1));
            return list;
        }
        if (name == u"string")
            return text();
        if (name == u"true" || name == u"false") {
            const bool value = name == u"true";
            if (!text().isEmpty())
                throw Malformed{};
            return value;
        }
        if (name == u"integer")
            return integer(text().trimmed());
        if (name == u"real") {
            bool ok = false;
            const double value = text().trimmed().toDouble(&ok);
            if (!ok)
                throw Malformed{};
            return value;
        }
        if (name == u"data") {
            QByteArray base64 = text().toLatin1();
            base64.removeIf([](char c) { return isWhitespace(QLatin1Char(c)); });
            auto decoded =
                QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                throw Malformed{};
            return *decoded;
        }
        if (name == u"date") {
            const QDateTime date = QDateTime::fromString(text().trimmed(), Qt::ISODate);
            if (!date.isValid())
                throw Malformed{};
            return date.toUTC();
        }
        throw Malformed{};
    }

    static QVariant integer(const QString& digits) {
        QStringView rest = digits;
        bool negative = false;
        if (rest.startsWith(u'-') || rest.startsWith(u'+')) {
            negative = rest.front() == u'-';
            rest = rest.mid(1);
        }
        int base = 10;
        if (rest.startsWith(u"0x") || rest.startsWith(u"0X")) {
            base = 16;
            rest = rest.mid(2);
        }
        if (rest.isEmpty())
            throw Malformed{};
        for (QChar c : rest) {
            if (!(c.isDigit() || (base == 16 && QStringLiteral("abcdefABCDEF").contains(c))))
                throw Malformed{};
        }
        bool ok = false;
        const quint64 magnitude = rest.toULongLong(&ok, base);
        if (!ok)
            throw Malformed{};
        return integerValue(negative, magnitude);
    }

    QXmlStreamReader m_xml;
};

// ---------------------------------------------------------------------------
// The old bracketed text form: ( a, b ), { key = value; }, <hex data>, strings.

class TextReader {
public:
    explicit TextReader(QString text)
        : m_text(std::move(text)) {}

    QVariant read() {
        QVariant value = this->value(0);
        skipSpace();
        if (m_at != m_text.size())
            throw Malformed{};
        return value;
    }

private:
    static bool isUnquoted(QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'$' || c == u'+' || c == u'/' || c == u':' || c == u'.' ||
               c == u'-';
    }

    static int hexValue(QChar c) {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - '0';
        if (c >= u'a' && c <= u'f')
            return c.unicode() - 'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c.unicode() - 'A' + 10;
        return -1;
    }

    QChar peek() const { return m_at < m_text.size() ? m_text.at(m_at) : QChar(); }

    void skipSpace() {
        while (m_at < m_text.size()) {
            const QChar c = m_text.at(m_at);
            if (isWhitespace(c)) {
                ++m_at;
            } else if (m_text.mid(m_at, 2) == u"//") {
                while (m_at < m_text.size() && m_text.at(m_at) != u'\n')
                    ++m_at;
            } else if (m_text.mid(m_at, 2) == u"/*") {
                const qsizetype end = m_text.indexOf(u"*/", m_at + 2);
                if (end < 0)
                    throw Malformed{};
                m_at = end + 2;
            } else {
                return;
            }
        }
    }

    void expect(QChar c) {
        skipSpace();
        if (peek() != c)
            throw Malformed{};
        ++m_at;
    }

    QVariant value(int depth) {
        if (depth > PropertyList::maximumDepth)
            throw Malformed{};
        skipSpace();
        const QChar c = peek();
        if (c == u'{') {
            ++m_at;
            QVariantMap map;
            for (skipSpace(); peek() != u'}'; skipSpace()) {
                const QString key = string();
                if (map.contains(key))
                    throw Malformed{};
                expect(u'=');
                map.insert(key, value(depth + 1));
                expect(u';');
            }
            ++m_at;
            return map;
        }
        if (c == u'(') {
            ++m_at;
            QVariantList list;
            skipSpace();
            while (peek() != u')') {
                list.append(value(depth + 1));
                skipSpace();
                if (peek() == u',')
                    ++m_at;
                else if (peek() != u')')
                    throw Malformed{};
                skipSpace();
            }
            ++m_at;
            return list;
        }
        if (c == u'<')
            return data();
        return string();
    }

    QByteArray data() {
        ++m_at;
        QByteArray hex;
        for (;;) {
            skipSpace();
            const QChar c = peek();
            if (c == u'>')
                break;
            if (hexValue(c) < 0)
                throw Malformed{};
            hex.append(c.toLatin1());
            ++m_at;
        }
        ++m_at;
        if (hex.size() % 2 != 0)
            throw Malformed{};
        return QByteArray::fromHex(hex);
    }

    QString string() {
        skipSpace();
        const QChar c = peek();
        if (c == u'"' || c == u'\'')
            return quoted(c);
        const qsizetype start = m_at;
        while (m_at < m_text.size() && isUnquoted(m_text.at(m_at)))
            ++m_at;
        if (m_at == start)
            throw Malformed{};
        return m_text.mid(start, m_at - start);
    }

    QString quoted(QChar quote) {
        ++m_at;
        QString out;
        for (;;) {
            if (m_at >= m_text.size())
                throw Malformed{};
            const QChar c = m_text.at(m_at++);
            if (c == quote)
                return out;
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                throw Malformed{};
            const QChar e = m_text.at(m_at++);
            switch (e.unicode()) {
            case 'a':
                out += u'\a';
                break;
            case 'b':
                out += u'\b';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 't':
                out += u'\t';
                break;
            case 'v':
                out += u'\v';
                break;
            case 'U': {
                char16_t code = 0;
                int digits = 0;
                for (; digits < 4 && hexValue(peek()) >= 0; ++digits)
                    code = char16_t(code * 16 + hexValue(m_text.at(m_at++)));
                if (digits == 0)
                    throw Malformed{};
                out += QChar(code);
                break;
            }
            default:
                if (e >= u'0' && e <= u'7') {
                    int code = e.unicode() - '0';
                    for (int digits = 1; digits < 3 && peek() >= u'0' && peek() <= u'7'; ++digits)
                        code = code * 8 + (m_text.at(m_at++).unicode() - '0');
                    out += QChar(char16_t(code));
                } else {
                    out += e;
                }
            }
        }
    }

    QString m_text;
    qsizetype m_at = 0;
};

bool looksLikeXml(const QByteArray& data) {
    qsizetype at = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        at = 3;
    while (at < data.size() && isWhitespace(QLatin1Char(data.at(at))))
        ++at;
    const QByteArray start = data.mid(at, 9);
    return start.startsWith("<?xml") || start.startsWith("<!DOCTYPE") ||
           start.startsWith("<plist") || start.startsWith("<!--");
}

} // namespace

namespace PropertyList {

std::optional<QVariant> read(const QByteArray& data) {
    try {
        if (data.startsWith("bplist"))
            return BinaryReader(data).read();
        if (looksLikeXml(data))
            return XmlReader(data).read();
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString text = decoder(data);
        if (decoder.hasError())
            return std::nullopt;
        return TextReader(std::move(text)).read();
    } catch (const Malformed&) {
        return std::nullopt;
    }
}

} // namespace PropertyList
