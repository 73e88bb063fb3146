#pragma once

#include <QByteArray>
#include <QVariant>
#include <optional>

// A small, strict reader for property lists in their three forms: XML, binary
// ("bplist00") and the old bracketed text form. It exists because stored keyboard
// mappings may come in any of them; it reads untrusted data, so it bounds nesting,
// checks every offset and count against the data and refuses reference cycles.
//
// Values map to QVariantMap (dictionaries, string keys only), QVariantList,
// QString, qint64 (quint64 above the signed range), double, bool, QByteArray and
// QDateTime (UTC). The text form has no numbers: its scalars are all strings.
namespace PropertyList {

// Containers nested deeper than this are refused.
inline constexpr int maximumDepth = 64;
// A binary list whose objects, counted with every repetition of a shared object,
// exceed this is refused (a few hundred bytes could otherwise describe billions).
inline constexpr quint64 maximumValues = 1u << 20;

// The value the data holds, or nothing when it is not one well-formed property list.
std::optional<QVariant> read(const QByteArray& data);

} // namespace PropertyList
