#pragma once

#include "FileUserDefaults.h"
#include "KeyboardMappingStore.h"
#include "MicrophoneKeyControl.h"
#include "UserDefaults.h"

#include <QString>
#include <functional>
#include <map>
#include <set>

// Turns the keyboard's microphone key into a second dictation trigger by sending
// it to F19 on every keyboard. Each change is a transaction over all keyboards
// (read, plan, re-read and compare, record the intent, write, read back; undo on
// failure), and an ownership record tied to the boot session names exactly the
// entries this application added, so they can be removed again, also after a crash.
class MicrophoneKey final : public MicrophoneKeyControl {
public:
    // One entry this application put on a keyboard.
    struct OwnedMapping {
        quint64 source = 0;
        quint64 destination = 0;
        friend auto operator<=>(const OwnedMapping&, const OwnedMapping&) = default;
    };
    // Registry id -> the entries owned on that keyboard.
    using Ownership = std::map<QString, std::set<OwnedMapping>>;
    // The current boot session's id; throws ZedazidEdize when it cannot be told.
    using BootSession = std::function<QString()>;

    static inline const QString ownershipKey = QStringLiteral("ownsMicrophoneMapping");
    static inline const QString deviceOwnershipKey = QStringLiteral("microphoneMappingOwnership");
    static inline const QString bootIdPath = QStringLiteral("/proc/sys/kernel/random/boot_id");
    // A keyboard is only changed once the record naming the change is kept.
    static inline const QString recordNotSaved =
        QStringLiteral("Wispen cannot save its settings, so the microphone key was not "
                       "remapped. Use Ctrl+Alt+Space to record.");

    explicit MicrophoneKey(UserDefaults& defaults = FileUserDefaults::standard(),
                           KeyboardMappingStore& store = systemStore(),
                           BootSession bootSession = &MicrophoneKey::currentBootSession);

    bool ownsMapping() const override;
    void enable() override;
    void disable() override;

    // The kernel's boot id: it changes at every restart, as our mappings vanish.
    static QString currentBootSession();
    // The boot id held in a file like the kernel's; throws ZedazidEdize when the file
    // cannot be read or holds no id.
    static QString readBootSession(const QString& path);
    // The mapping store over the system's input devices.
    static KeyboardMappingStore& systemStore();

    // What the stored record says this application owns on the devices just read,
    // for the current boot session; malformed parts of the record are skipped.
    Ownership owners(const QList<DeviceMapping>& devices, const QString& boot) const;
    // Replaces the record with the ownership for the boot session, and the flag; false
    // when either could not be kept.
    bool save(const Ownership& ownership, const QString& boot);

private:
    // Removes the entries named in `owned`, leaving the record naming `kept`; a
    // keyboard stays recorded until its restore is confirmed.
    void restore(const Ownership& owned, const Ownership& kept, const QString& boot);

    UserDefaults& m_defaults;
    KeyboardMappingStore& m_store;
    BootSession m_bootSession;
};
