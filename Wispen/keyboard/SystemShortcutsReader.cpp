#include "SystemShortcutsReader.h"

#include "SystemShortcutsFormat.h"
#include "ZedazidEdize.h"

#include <QFile>
#include <QStandardPaths>

#include <cstring>
#include <memory>

#include <gio/gio.h>

namespace {

struct SchemaUnref {
    void operator()(GSettingsSchema* p) const { g_settings_schema_unref(p); }
};
struct KeyUnref {
    void operator()(GSettingsSchemaKey* p) const { g_settings_schema_key_unref(p); }
};
struct ObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
struct VariantUnref {
    void operator()(GVariant* p) const { g_variant_unref(p); }
};
struct StrvFree {
    void operator()(gchar** p) const { g_strfreev(p); }
};
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;
using SchemaKey = std::unique_ptr<GSettingsSchemaKey, KeyUnref>;
using Settings = std::unique_ptr<GSettings, ObjectUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;
using Strv = std::unique_ptr<gchar*, StrvFree>;

const char* const kdeFileName = "kglobalshortcutsrc";

// The schema when it is installed; GNOME's schemas are absent on other desktops.
Schema lookup(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return Schema(source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr);
}

void addAccelerator(std::vector<SystemShortcuts::Entry>& entries, const gchar* accelerator) {
    if (const std::optional<std::uint32_t> keysym =
            SystemShortcutsFormat::gnomeAcceleratorKeysym(QString::fromUtf8(accelerator)))
        entries.push_back({true, *keysym});
}

// Every string or string-list key of the settings, read as accelerators; keys of
// other types hold no bindings.
void addKey(std::vector<SystemShortcuts::Entry>& entries, GSettingsSchema* schema,
            GSettings* settings, const gchar* name) {
    const SchemaKey key(g_settings_schema_get_key(schema, name));
    const GVariantType* type = g_settings_schema_key_get_value_type(key.get());
    if (!g_variant_type_equal(type, G_VARIANT_TYPE_STRING_ARRAY) &&
        !g_variant_type_equal(type, G_VARIANT_TYPE_STRING))
        return;
    const Variant value(g_settings_get_value(settings, name));
    if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) {
        addAccelerator(entries, g_variant_get_string(value.get(), nullptr));
        return;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, value.get());
    const gchar* accelerator = nullptr;
    while (g_variant_iter_next(&iter, "&s", &accelerator))
        addAccelerator(entries, accelerator);
}

void addGnomeSchema(std::vector<SystemShortcuts::Entry>& entries, const char* id) {
    const Schema schema = lookup(id);
    // A relocatable schema has no fixed path and cannot be opened without one.
    if (!schema || !g_settings_schema_get_path(schema.get()))
        return;
    const Settings settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    const Strv keys(g_settings_schema_list_keys(schema.get()));
    for (gchar** key = keys.get(); key && *key; ++key) {
        if (std::strcmp(*key, SystemShortcutsReader::gnomeCustomListKey) != 0)
            addKey(entries, schema.get(), settings.get(), *key);
    }
}

void addGnomeCustom(std::vector<SystemShortcuts::Entry>& entries) {
    const Schema list = lookup(SystemShortcutsReader::gnomeCustomListSchema);
    const Schema custom = lookup(SystemShortcutsReader::gnomeCustomSchema);
    if (!list || !custom ||
        !g_settings_schema_has_key(list.get(), SystemShortcutsReader::gnomeCustomListKey) ||
        !g_settings_schema_has_key(custom.get(), SystemShortcutsReader::gnomeCustomKey))
        return;
    const Settings settings(g_settings_new_full(list.get(), nullptr, nullptr));
    const Strv paths(
        g_settings_get_strv(settings.get(), SystemShortcutsReader::gnomeCustomListKey));
    for (gchar** path = paths.get(); path && *path; ++path) {
        // A malformed path would abort GSettings; such an entry is skipped instead.
        const qsizetype length = qsizetype(std::strlen(*path));
        if (length < 2 || (*path)[0] != '/' || (*path)[length - 1] != '/' ||
            std::strstr(*path, "//"))
            continue;
        const Settings binding(g_settings_new_full(custom.get(), nullptr, *path));
        addKey(entries, custom.get(), binding.get(), SystemShortcutsReader::gnomeCustomKey);
    }
}

} // namespace

SystemShortcutsReader::SystemShortcutsReader()
    : SystemShortcutsReader(
          QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
          QLatin1Char('/') + QLatin1String(kdeFileName)) {}

SystemShortcutsReader::SystemShortcutsReader(QString kdeFile)
    : m_kdeFile(std::move(kdeFile)) {}

std::vector<SystemShortcuts::Entry> SystemShortcutsReader::list() const {
    std::vector<Entry> entries;
    for (const char* id : gnomeKeybindingSchemas)
        addGnomeSchema(entries, id);
    addGnomeCustom(entries);

    QFile kde(m_kdeFile);
    if (kde.exists()) {
        if (!kde.open(QIODevice::ReadOnly))
            throw ZedazidEdize::message(QString::fromUtf8(unreadableMessage));
        for (const Entry& entry :
             SystemShortcutsFormat::kdeEntries(QString::fromUtf8(kde.readAll())))
            entries.push_back(entry);
    }
    return entries;
}
