#pragma once

#include "DeviceMapping.h"

#include <QList>
#include <QString>

// The device access the microphone-key remapping works over: every input device's
// mapping list, and a way to replace one device's list. Each call asks the system
// afresh.
class KeyboardMappingStore {
public:
    virtual ~KeyboardMappingStore() = default;

    // A keyboard changed between being read and being written; raised by the store's
    // write and by the remapping's own comparison.
    static inline const QString mappingsChanged =
        QStringLiteral("Keyboard mappings changed during setup. Try again.");

    // Every device, in the system's order; throws ZedazidEdize when the devices cannot
    // be listed or one device's list cannot be read (no partial list is returned).
    virtual QList<DeviceMapping> read() = 0;
    // Replaces `replacing`, the list the device held when it was read, with `mappings`.
    // Only what differs between the two is written, and only while the device still
    // holds what `replacing` says, so another program's change made since is never
    // overwritten. Throws ZedazidEdize when the device has gone, holds something else
    // by now, or the system refuses the list; nothing is changed then.
    virtual void write(const QString& deviceID, const MicrophoneMapping::MappingList& mappings,
                       const MicrophoneMapping::MappingList& replacing) = 0;
};
