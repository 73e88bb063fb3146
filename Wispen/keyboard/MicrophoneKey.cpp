#include "MicrophoneKey.h"

#include "HIDKeyboardMappingStore.h"
#include "ZedazidEdize.h"

#include <QFile>
#include <exception>
#include <optional>

namespace {

using MicrophoneMapping::Entry;
using Ownership = MicrophoneKey::Ownership;
using OwnedMapping = MicrophoneKey::OwnedMapping;

const QString noKeyboards =
    QStringLiteral("No supported keyboard services are available. Use Ctrl+Alt+Space to record.");
const QString notConfirmed = QStringLiteral(
    "The system did not confirm the microphone mapping. Use Ctrl+Alt+Space to record.");
const QString couldNotRestore =
    QStringLiteral("Microphone-key setup could not finish restoring its changes. Restart Wispen "
                   "to retry recovery. Ctrl+Alt+Space still works.");
const QString unknownSession =
    QStringLiteral("Cannot identify the current keyboard session. Use Ctrl+Alt+Space to record.");

const OwnedMapping legacyOwned{MicrophoneMapping::source, MicrophoneMapping::legacyDestination};

Ownership joined(Ownership a, const Ownership& b) {
    for (const auto& [id, set] : b)
        a[id].insert(set.begin(), set.end());
    return a;
}

std::optional<DeviceMapping> find(const QList<DeviceMapping>& devices, const QString& id) {
    for (const DeviceMapping& device : devices) {
        if (device.id == id)
            return device;
    }
    return std::nullopt;
}

bool isStringList(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantList)
        return false;
    const QVariantList list = value.toList();
    return std::all_of(list.begin(), list.end(),
                       [](const QVariant& v) { return v.typeId() == QMetaType::QString; });
}

bool isStringMap(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = value.toMap();
    return std::all_of(map.begin(), map.end(),
                       [](const QVariant& v) { return v.typeId() == QMetaType::QString; });
}

// A dictionary whose every value passes `shape`; only then is a record part read.
template <typename Shape> bool isMapOf(const QVariant& value, Shape shape) {
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = value.toMap();
    return std::all_of(map.begin(), map.end(), shape);
}

Ownership ownedMappings(const QVariantMap& mappings) {
    Ownership result;
    for (auto it = mappings.begin(); it != mappings.end(); ++it) {
        std::set<OwnedMapping> set;
        for (const QVariant& item : it->toList()) {
            const QVariantMap pair = item.toMap();
            const auto source = MicrophoneMapping::decimal(pair.value("source").toString());
            const auto destination =
                MicrophoneMapping::decimal(pair.value("destination").toString());
            if (!pair.contains("source") || !pair.contains("destination") || !source ||
                !destination)
                continue;
            if (*source != MicrophoneMapping::source && *source != MicrophoneMapping::keyboardF5)
                continue;
            if (*destination != MicrophoneMapping::legacyDestination &&
                *destination != MicrophoneMapping::destination)
                continue;
            set.insert({*source, *destination});
        }
        if (!set.empty())
            result[it.key()] = set;
    }
    return result;
}

Ownership ownedEntries(const QVariantMap& entries) {
    Ownership result;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        std::set<OwnedMapping> set;
        for (const QVariant& item : it->toList()) {
            const auto source = MicrophoneMapping::decimal(item.toString());
            if (source &&
                (*source == MicrophoneMapping::source || *source == MicrophoneMapping::keyboardF5))
                set.insert({*source, MicrophoneMapping::legacyDestination});
        }
        if (!set.empty())
            result[it.key()] = set;
    }
    return result;
}

} // namespace

MicrophoneKey::MicrophoneKey(UserDefaults& defaults, KeyboardMappingStore& store,
                             BootSession bootSession)
    : m_defaults(defaults)
    , m_store(store)
    , m_bootSession(std::move(bootSession)) {}

bool MicrophoneKey::ownsMapping() const {
    return m_defaults.boolValue(ownershipKey);
}

KeyboardMappingStore& MicrophoneKey::systemStore() {
    static HIDKeyboardMappingStore store;
    return store;
}

QString MicrophoneKey::currentBootSession() {
    return readBootSession(bootIdPath);
}

QString MicrophoneKey::readBootSession(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ZedazidEdize::message(unknownSession);
    constexpr qint64 bootIdBytes = 128;
    const QString id = QString::fromUtf8(file.read(bootIdBytes)).trimmed();
    if (id.isEmpty())
        throw ZedazidEdize::message(unknownSession);
    return id;
}

Ownership MicrophoneKey::owners(const QList<DeviceMapping>& devices, const QString& boot) const {
    const QVariant stored = m_defaults.value(deviceOwnershipKey);
    if (stored.typeId() != QMetaType::QVariantMap) {
        // The oldest form: a flag and no record; our F15 entries are recognised on sight.
        Ownership result;
        if (!ownsMapping())
            return result;
        for (const DeviceMapping& device : devices) {
            if (device.mappings.contains(Entry{legacyOwned.source, legacyOwned.destination}))
                result[device.id] = {legacyOwned};
        }
        return result;
    }
    const QVariantMap record = stored.toMap();
    const QVariant recordedBoot = record.value("boot");
    if (recordedBoot.typeId() != QMetaType::QString || recordedBoot.toString() != boot)
        return {};

    const QVariant mappings = record.value("mappings");
    const bool mappingsWellTyped = isMapOf(mappings, [](const QVariant& list) {
        if (list.typeId() != QMetaType::QVariantList)
            return false;
        const QVariantList items = list.toList();
        return std::all_of(items.begin(), items.end(), isStringMap);
    });
    if (mappingsWellTyped)
        return ownedMappings(mappings.toMap());

    const QVariant entries = record.value("entries");
    if (isMapOf(entries, isStringList))
        return ownedEntries(entries.toMap());

    Ownership result;
    const QVariant ids = record.value("devices");
    if (isStringList(ids)) {
        for (const QVariant& id : ids.toList())
            result[id.toString()] = {legacyOwned};
    }
    return result;
}

bool MicrophoneKey::save(const Ownership& ownership, const QString& boot) {
    QVariantMap mappings;
    for (const auto& [id, set] : ownership) {
        if (set.empty())
            continue;
        QVariantList pairs;
        for (const OwnedMapping& m : set) // ordered by source, then destination
            pairs.append(QVariantMap{{"source", QString::number(m.source)},
                                     {"destination", QString::number(m.destination)}});
        mappings.insert(id, pairs);
    }
    m_defaults.setValue(deviceOwnershipKey, QVariantMap{{"boot", boot}, {"mappings", mappings}});
    const bool recordKept = m_defaults.lastWriteSucceeded();
    m_defaults.setValue(ownershipKey, !mappings.isEmpty());
    return recordKept && m_defaults.lastWriteSucceeded();
}

void MicrophoneKey::restore(const Ownership& owned, const Ownership& kept, const QString& boot) {
    QList<DeviceMapping> devices;
    try {
        devices = m_store.read();
    } catch (...) {
        save(joined(kept, owned), boot);
        throw;
    }
    Ownership remaining = owned;
    for (const DeviceMapping& device : devices) {
        const auto found = owned.find(device.id);
        if (found == owned.end())
            continue;
        try {
            MicrophoneMapping::MappingList wanted;
            for (const Entry& e : device.mappings) {
                if (!found->second.count(OwnedMapping{e.src, e.dst}))
                    wanted.append(e);
            }
            if (wanted != device.mappings) {
                if (find(m_store.read(), device.id) != device)
                    throw ZedazidEdize::message(KeyboardMappingStore::mappingsChanged);
                m_store.write(device.id, wanted, device.mappings);
                const auto after = find(m_store.read(), device.id);
                if (!after || after->mappings != wanted)
                    throw ZedazidEdize::message(notConfirmed);
            }
            remaining.erase(device.id);
            save(joined(kept, remaining), boot);
        } catch (...) {
            save(joined(kept, remaining), boot);
            throw;
        }
    }
    save(kept, boot);
}

void MicrophoneKey::disable() {
    if (!ownsMapping())
        return;
    const QList<DeviceMapping> devices = m_store.read();
    const QString boot = m_bootSession();
    restore(owners(devices, boot), {}, boot);
}

void MicrophoneKey::enable() {
    QList<DeviceMapping> devices = m_store.read();
    const QString boot = m_bootSession();

    // Entries of older versions (F15) are removed first; nothing of that is undone.
    Ownership legacy;
    Ownership current;
    for (const auto& [id, set] : owners(devices, boot)) {
        for (const OwnedMapping& m : set)
            (m.destination == MicrophoneMapping::legacyDestination ? legacy : current)[id].insert(
                m);
    }
    if (!legacy.empty()) {
        restore(legacy, current, boot);
        devices = m_store.read();
    }

    QList<DeviceMapping> keyboards;
    for (const DeviceMapping& device : devices) {
        if (!device.sources.isEmpty())
            keyboards.append(device);
    }
    if (keyboards.isEmpty())
        throw ZedazidEdize::message(noKeyboards);

    const Ownership owned = owners(devices, boot);
    QList<MicrophoneMapping::MappingList> planned;
    for (const DeviceMapping& keyboard : keyboards) {
        MicrophoneMapping::MappingList list = keyboard.mappings;
        for (quint64 source : keyboard.sources)
            list = MicrophoneMapping::adding(list, source);
        planned.append(list);
    }

    Ownership added;
    try {
        for (qsizetype i = 0; i < keyboards.size(); ++i) {
            const DeviceMapping& keyboard = keyboards[i];
            if (planned[i] == keyboard.mappings)
                continue;
            std::set<OwnedMapping> ours;
            for (quint64 source : keyboard.sources) {
                if (!keyboard.mappings.contains(MicrophoneMapping::entry(source)))
                    ours.insert({source, MicrophoneMapping::destination});
            }
            if (find(m_store.read(), keyboard.id) != keyboard)
                throw ZedazidEdize::message(KeyboardMappingStore::mappingsChanged);
            // Only a kept record may name an entry before it is written; a record that
            // names more than the keyboards hold (a failed save while restoring) is
            // harmless, as nothing else matches our exact entries.
            added[keyboard.id].insert(ours.begin(), ours.end());
            if (!save(joined(owned, added), boot)) {
                added.erase(keyboard.id);
                throw ZedazidEdize::message(recordNotSaved);
            }
            m_store.write(keyboard.id, planned[i], keyboard.mappings);
            const auto after = find(m_store.read(), keyboard.id);
            if (!after || after->mappings != planned[i])
                throw ZedazidEdize::message(notConfirmed);
        }
    } catch (...) {
        const std::exception_ptr original = std::current_exception();
        try {
            restore(added, owned, boot);
        } catch (...) {
            throw ZedazidEdize::message(couldNotRestore);
        }
        std::rethrow_exception(original);
    }
    save(joined(owned, added), boot);
}
