#include "MicrophoneMapping.h"

#include "PropertyList.h"
#include "ZedazidEdize.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QVariant>
#include <limits>

namespace {

const QString alreadyMapped =
    QStringLiteral("The microphone key already has a custom mapping. Disable that mapping first; "
                   "Wispen has left it intact.");
const QString unreadableMappings =
    QStringLiteral("Cannot read the current keyboard mappings. Use Ctrl+Alt+Space to record.");
const QString unfamiliarMapping =
    QStringLiteral("An unfamiliar keyboard mapping was found. No keys were changed.");
const QString unreadableValue =
    QStringLiteral("Cannot read a keyboard mapping. No keys were changed.");
const QString differentMappings =
    QStringLiteral("Your keyboards have different custom mappings. Wispen left them unchanged. "
                   "Use Ctrl+Alt+Space to record.");

// Doubles are exact integers only up to 2^53; a larger JSON number may already
// have been rounded by the parser, so it is refused rather than misread.
constexpr double largestExactDouble = 9007199254740992.0;

std::optional<QString> utf8(const QByteArray& data) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

quint64 usage(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        if (const auto number = MicrophoneMapping::decimal(value.toString()))
            return *number;
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
        if (value.toLongLong() >= 0)
            return quint64(value.toLongLong());
        break;
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toULongLong();
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (number >= 0 && number <= largestExactDouble && number == double(quint64(number)))
            return quint64(number);
        break;
    }
    default:
        break;
    }
    throw ZedazidEdize::message(unreadableValue);
}

// Form 1: a single stored value, as JSON or as a property list.
MicrophoneMapping::MappingList parseValue(const QByteArray& data) {
    if (const auto text = utf8(data); text && text->trimmed() == u"(null)")
        return {};
    QVariant value;
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(data, &error);
    if (error.error == QJsonParseError::NoError) {
        value = json.toVariant();
    } else if (auto list = PropertyList::read(data)) {
        value = std::move(*list);
    } else {
        throw ZedazidEdize::message(unreadableMappings);
    }
    if (value.typeId() != QMetaType::QVariantList)
        throw ZedazidEdize::message(unreadableMappings);
    const QVariantList items = value.toList();
    for (const QVariant& item : items) {
        if (item.typeId() != QMetaType::QVariantMap)
            throw ZedazidEdize::message(unreadableMappings);
    }
    MicrophoneMapping::MappingList mappings;
    for (const QVariant& item : items) {
        const QVariantMap map = item.toMap();
        if (map.size() != 2 || !map.contains(MicrophoneMapping::src) ||
            !map.contains(MicrophoneMapping::dst))
            throw ZedazidEdize::message(unfamiliarMapping);
        const quint64 from = usage(map.value(MicrophoneMapping::src));
        const quint64 to = usage(map.value(MicrophoneMapping::dst));
        mappings.append({from, to});
    }
    return mappings;
}

// Form 2: a header line, then one row per service: registry id (hexadecimal), the
// word UserKeyMapping and that service's value.
MicrophoneMapping::MappingList parseTable(const QString& text) {
    QStringList lines = text.split(u'\n');
    const QStringList header =
        lines.takeFirst().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (header !=
        QStringList{QStringLiteral("RegistryID"), QStringLiteral("Key"), QStringLiteral("Value")})
        throw ZedazidEdize::message(unreadableMappings);
    const QString body = lines.join(u'\n');
    static const QRegularExpression rowStart(
        QStringLiteral("(?m)^[0-9a-fA-F]+[ \\t]+UserKeyMapping[ \\t]+"));
    QList<QRegularExpressionMatch> rows;
    for (auto it = rowStart.globalMatch(body); it.hasNext();)
        rows.append(it.next());
    if (rows.isEmpty() || rows.first().capturedStart() != 0)
        throw ZedazidEdize::message(unreadableMappings);
    std::optional<MicrophoneMapping::MappingList> first;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const qsizetype from = rows[i].capturedEnd();
        const qsizetype to = i + 1 < rows.size() ? rows[i + 1].capturedStart() : body.size();
        const MicrophoneMapping::MappingList list = parseValue(body.mid(from, to - from).toUtf8());
        if (!first)
            first = list;
        else if (list != *first)
            throw ZedazidEdize::message(differentMappings);
    }
    return *first;
}

} // namespace

namespace MicrophoneMapping {

MappingList adding(const MappingList& mappings, quint64 source) {
    const Entry wanted = entry(source);
    MappingList matching;
    for (const Entry& e : mappings) {
        if (e.src == source)
            matching.append(e);
    }
    if (matching.isEmpty())
        return MappingList(mappings) << wanted;
    if (matching.first() == wanted)
        return mappings;
    const bool onlyLegacy = std::all_of(matching.begin(), matching.end(),
                                        [](const Entry& e) { return e.dst == legacyDestination; });
    if (source == MicrophoneMapping::source && onlyLegacy)
        return MappingList{wanted} + mappings;
    throw ZedazidEdize::message(alreadyMapped);
}

MappingList removing(const MappingList& mappings) {
    MappingList kept;
    for (const Entry& e : mappings) {
        if (e != entry())
            kept.append(e);
    }
    return kept;
}

std::optional<quint64> decimal(QStringView text) {
    bool negative = false;
    if (text.startsWith(u'+') || text.startsWith(u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = quint64(c.unicode() - '0');
        if (value > (std::numeric_limits<quint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (negative && value != 0)
        return std::nullopt;
    return value;
}

MappingList parse(const QByteArray& data) {
    if (data.startsWith("RegistryID")) {
        if (const auto text = utf8(data))
            return parseTable(*text);
    }
    return parseValue(data);
}

} // namespace MicrophoneMapping
