#include "SystemShortcutsFormat.h"

#include <QKeySequence>
#include <QStringList>

#include <xkbcommon/xkbcommon.h>

namespace {

constexpr std::uint32_t keysymF1 = 0xffbe;
constexpr std::uint32_t keysymAudioMicMute = 0x1008ffb2;
constexpr int kdeFieldsActive = 0;
constexpr int kdeFieldsDefault = 1;

std::optional<std::uint32_t> keysymNamed(const QString& name) {
    const QByteArray latin = name.toLatin1();
    xkb_keysym_t keysym = xkb_keysym_from_name(latin.constData(), XKB_KEYSYM_NO_FLAGS);
    if (keysym == XKB_KEY_NoSymbol)
        keysym = xkb_keysym_from_name(latin.constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    // GNOME also accepts the vendor keys without their "XF86" prefix.
    if (keysym == XKB_KEY_NoSymbol)
        keysym = xkb_keysym_from_name(("XF86" + latin).constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    if (keysym == XKB_KEY_NoSymbol)
        return std::nullopt;
    return keysym;
}

// The keysyms of one field of a KDE value: key sequences separated by tabs.
std::vector<std::uint32_t> kdeKeysyms(const QString& field) {
    std::vector<std::uint32_t> keysyms;
    for (const QString& text : field.split(QLatin1Char('\t'), Qt::SkipEmptyParts)) {
        if (text.trimmed().compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            continue;
        const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
        if (sequence.isEmpty())
            continue;
        if (const std::optional<std::uint32_t> keysym =
                SystemShortcutsFormat::qtKeyKeysym(sequence[0].key()))
            keysyms.push_back(*keysym);
    }
    return keysyms;
}

// A KConfig value as written: "\t" separates alternative shortcuts, "\s" is a
// space and "\\" a backslash.
QString unescapeKConfig(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const QChar escaped = value[++i];
        if (escaped == QLatin1Char('t'))
            text += QLatin1Char('\t');
        else if (escaped == QLatin1Char('s'))
            text += QLatin1Char(' ');
        else
            text += escaped;
    }
    return text;
}

} // namespace

std::optional<std::uint32_t>
SystemShortcutsFormat::gnomeAcceleratorKeysym(const QString& accelerator) {
    QString rest = accelerator.trimmed();
    // Modifiers come first, each in angle brackets.
    while (rest.startsWith(QLatin1Char('<'))) {
        const qsizetype close = rest.indexOf(QLatin1Char('>'));
        if (close < 0)
            return std::nullopt;
        rest = rest.mid(close + 1);
    }
    if (rest.isEmpty() || rest == QLatin1String("disabled") || rest.contains(QLatin1Char('<')) ||
        rest.contains(QLatin1Char('>')))
        return std::nullopt;
    return keysymNamed(rest);
}

std::optional<std::uint32_t> SystemShortcutsFormat::qtKeyKeysym(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return keysymF1 + std::uint32_t(qtKey - Qt::Key_F1);
    if (qtKey == Qt::Key_MicMute)
        return keysymAudioMicMute;
    // Printable Latin-1 keys are their own keysyms; letters are bound lower case.
    if (qtKey >= Qt::Key_Space && qtKey <= Qt::Key_ydiaeresis)
        return std::uint32_t(QChar(char16_t(qtKey)).toLower().unicode());
    return std::nullopt;
}

std::vector<SystemShortcuts::Entry> SystemShortcutsFormat::kdeEntries(const QString& fileText) {
    std::vector<SystemShortcuts::Entry> entries;
    for (const QString& rawLine : fileText.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char('[')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        // Names starting with an underscore are the component's own metadata.
        if (line.startsWith(QLatin1Char('_')))
            continue;
        // "active,default,description"; newer files store only the active keys.
        const QStringList fields = unescapeKConfig(line.mid(equals + 1)).split(QLatin1Char(','));
        const std::vector<std::uint32_t> active = kdeKeysyms(fields.value(kdeFieldsActive));
        for (std::uint32_t keysym : active)
            entries.push_back({true, keysym});
        if (active.empty() && fields.size() > kdeFieldsDefault) {
            for (std::uint32_t keysym : kdeKeysyms(fields.value(kdeFieldsDefault)))
                entries.push_back({false, keysym});
        }
    }
    return entries;
}
