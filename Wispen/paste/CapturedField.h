#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// The text field that had the focus when a dictation started, as the controller
// sees it: something it can ask, once, to receive the transcript.
class CapturedField {
public:
    virtual ~CapturedField() = default;

    // Confirms that the same field is still focused and unchanged, then posts the
    // paste keystroke and returns at once. False, with `failure` set to the
    // reason, when anything changed or pasting is unsafe.
    virtual bool paste(std::optional<QString>& failure) = 0;
};

// Captures the focused field; null, with `failure` set to the reason, when there is
// no field that can safely receive a paste.
using PasteTargetCapture =
    std::function<std::unique_ptr<CapturedField>(std::optional<QString>& failure)>;
