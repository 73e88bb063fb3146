#pragma once

#include "MicrophoneMapping.h"

#include <QList>
#include <QString>

// One input device's mapping list as the remapping sees it: its registry id (the
// kernel's input device number as decimal text), its current mapping list, and
// the usages this application may remap on it.
struct DeviceMapping {
    QString id;
    MicrophoneMapping::MappingList mappings;
    QList<quint64> sources = {MicrophoneMapping::source};

    friend bool operator==(const DeviceMapping&, const DeviceMapping&) = default;

    // The microphone key for a keyboard or a consumer-control device, nothing for
    // any other device (pointers, switches), which is still listed.
    static QList<quint64> sourcesFor(bool isKeyboard, bool isConsumer) {
        if (isKeyboard || isConsumer)
            return {MicrophoneMapping::source};
        return {};
    }
};
