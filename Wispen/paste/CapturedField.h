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

    // Confirms that the same field is still focused and unchanged, then pastes the
    // transcript (already on the clipboard) and returns at once; a space goes before it
    // where it would otherwise run into the word before the cursor. False, with
    // `failure` set to the reason, when anything changed or pasting is unsafe.
    virtual bool paste(const QString& transcript, std::optional<QString>& failure) = 0;

    // True while a refused paste may still succeed in a moment: a key grab holds the
    // keyboard or let it go moments ago, and the field takes its focus back after it.
    virtual bool focusReturning() = 0;
};

// Captures the focused field; null, with `failure` set to the reason, when there is
// no field that can safely receive a paste.
using PasteTargetCapture =
    std::function<std::unique_ptr<CapturedField>(std::optional<QString>& failure)>;
