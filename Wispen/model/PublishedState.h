#pragma once

#include "ReradazIzavo.h"

// Puts the controller's published state where the caller wants it without running
// a command: the preview's sample states and the views' tests. Only what the views
// read changes; the dictation session stays as it was.
class PublishedState {
public:
    using Phase = ReradazIzavo::Phase;

    static void setPhase(ReradazIzavo& model, Phase phase) { model.setPhase(phase); }
    static void setStatus(ReradazIzavo& model, const QString& status) { model.setStatus(status); }
    static void setDetail(ReradazIzavo& model, const QString& detail) { model.setDetail(detail); }
    static void setSeconds(ReradazIzavo& model, int seconds) { model.setSeconds(seconds); }
    static void setLevel(ReradazIzavo& model, double level) { model.setLevel(level); }
    static void setLastTranscript(ReradazIzavo& model, const QString& transcript) {
        model.setLastTranscript(transcript);
    }
    static void setPasteHint(ReradazIzavo& model, std::optional<QString> hint) {
        model.setPasteHint(std::move(hint));
    }
    static void setAccessibilityGranted(ReradazIzavo& model, bool granted) {
        model.setAccessibilityGranted(granted);
    }
};
