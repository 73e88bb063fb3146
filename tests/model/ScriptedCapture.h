#pragma once

#include "CapturedField.h"

#include <memory>

// What the captured field does, and how often it was used.
struct CaptureScript {
    bool findsField = true;
    // The reason given when no field is found.
    std::optional<QString> captureFailure;
    bool pasteSucceeds = true;
    // The reason given when a paste is refused; absent leaves the reason untouched.
    std::optional<QString> pasteFailure;
    int captures = 0;
    int pastes = 0;
};

PasteTargetCapture scriptedCapture(std::shared_ptr<CaptureScript> script);
