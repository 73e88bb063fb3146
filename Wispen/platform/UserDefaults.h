#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The application's persisted settings: a typed key-value store in which booleans
// stay booleans and nested dictionaries (QVariantMap) and arrays (QVariantList)
// stay what they are.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // The stored value, or an invalid QVariant when the key is absent.
    virtual QVariant value(const QString& key) const = 0;
    // Stores a value; a later value() returns it unchanged.
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    // Removes a key; removing an absent key does nothing.
    virtual void remove(const QString& key) = 0;
    // Whether the last change was kept where the next run will find it.
    virtual bool lastWriteSucceeded() const { return true; }

    // The value read as a Boolean: false when absent or not stored as a Boolean.
    bool boolValue(const QString& key) const {
        const QVariant v = value(key);
        return v.typeId() == QMetaType::Bool && v.toBool();
    }
};

// A private store that lives as long as the object; tests use it.
class MemoryUserDefaults final : public UserDefaults {
public:
    QVariant value(const QString& key) const override { return m_values.value(key); }
    void setValue(const QString& key, const QVariant& value) override {
        m_lastWriteSucceeded = !refuseWrites;
        if (!refuseWrites)
            m_values.insert(key, value);
    }
    void remove(const QString& key) override { m_values.remove(key); }
    bool lastWriteSucceeded() const override { return m_lastWriteSucceeded; }

    // While set, changes are refused and nothing is kept, as by a full disk.
    bool refuseWrites = false;

private:
    QVariantMap m_values;
    bool m_lastWriteSucceeded = true;
};
