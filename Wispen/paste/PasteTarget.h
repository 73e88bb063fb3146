#pragma once

#include "AccessibleElement.h"
#include "CapturedField.h"
#include "FieldAccess.h"
#include "TextSelection.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The text field that had the keyboard focus when a dictation began. Later it checks
// that the very same field, with the same window, cursor and contents, still has the
// focus, and only then posts the paste keystroke; whenever anything may have changed
// it refuses and says why, and the transcript stays on the clipboard instead.
class PasteTarget {
public:
    static inline const QString notTrusted =
        QStringLiteral("Allow Accessibility in Wispen Rezuraz Settings.");
    static inline const QString noFrontmostField =
        QStringLiteral("Focus a text field before recording.");
    static inline const QString terminal = QStringLiteral("Terminal recordings use manual paste.");
    static inline const QString noFocusedElement =
        QStringLiteral("This app did not expose its focused field.");
    static inline const QString passwordField =
        QStringLiteral("Automatic paste is disabled in password fields.");
    static inline const QString notTextField =
        QStringLiteral("This app did not identify the focused control as a text field.");
    static inline const QString noWindow =
        QStringLiteral("This app did not expose the text field’s window.");
    static inline const QString noCursor =
        QStringLiteral("This app did not expose the text cursor position.");
    static inline const QString noContents =
        QStringLiteral("This app did not expose the text field’s contents.");
    static inline const QString modifierHeld =
        QStringLiteral("A modifier key was still held when transcription finished.");
    static inline const QString targetChanged =
        QStringLiteral("The original field, selection, or text changed while recording.");
    static inline const QString keystrokeFailed =
        QStringLiteral("The system could not create the paste keystroke.");

    // Role names of the fields that take a paste, and of the one that never does.
    static inline const QStringList acceptedRoles{QStringLiteral("text"), QStringLiteral("entry"),
                                                  QStringLiteral("paragraph"),
                                                  QStringLiteral("combo box")};
    static inline const QString secureRole = QStringLiteral("password text");

    PasteTarget(qint64 pid, AccessibleElement element, AccessibleElement window,
                TextSelection selection, QString contentDigest,
                std::shared_ptr<FieldAccess> access);

    // The focused field of the frontmost application, read through `access`. Sets
    // `failure` to nothing on entry; returns nothing with `failure` set to the reason.
    static std::optional<PasteTarget> capture(std::optional<QString>& failure,
                                              const std::shared_ptr<FieldAccess>& access);
    // The same over the desktop's accessibility and X server.
    static std::optional<PasteTarget> capture(std::optional<QString>& failure);

    // The desktop's accessibility and X server, as capture reads them.
    static std::shared_ptr<FieldAccess> desktop();

    // The controller's capture: the desktop's focused field as something it can paste into.
    static std::unique_ptr<CapturedField> captureField(std::optional<QString>& failure);

    // Starts following the desktop's focus and the key grabs now, and looks up the field
    // focused at this moment, so the first capture already knows it; capture starts it
    // otherwise. Call it after the QGuiApplication exists. False when accessibility is
    // unreachable or switched off.
    static bool startWatchingFocus();
    // Stops following the focus; a later capture finds the field by a bounded search.
    static void stopWatchingFocus();

    // True when the captured field is still focused and unchanged; false at the first
    // difference or unreadable detail, and while a key grab holds the keyboard.
    bool isStillFocused() const;

    // Posts the paste keystroke into the unchanged field, after a space when
    // needsLeadingSpace says so, and returns at once. Returns false with `failure` set
    // to the reason; leaves `failure` alone on success.
    bool paste(const QString& transcript, std::optional<QString>& failure) const;

    // True while a refusal may be a key grab's passing effect on the focus.
    bool focusReturning() const;

    // Whether `transcript`, pasted over the selection or at the caret of a field holding
    // `text`, would run into the character before it: that character is not white
    // space and the transcript starts with a letter or digit. Offsets count characters.
    static bool needsLeadingSpace(const QString& text, const TextSelection& selection,
                                  const QString& transcript);

    // The application's focused element, or a null element.
    static AccessibleElement focused(qint64 pid, FieldAccess& access);

    // Lower-case hexadecimal SHA-256 of the element's text; nothing when the text cannot
    // be read (an unreadable text counts as empty only when the element has no characters).
    static std::optional<QString> digest(const AccessibleElement& element, FieldAccess& read);
    // The element's text as digest() reads it.
    static std::optional<QString> contents(const AccessibleElement& element, FieldAccess& read);

    // Lower-case hexadecimal SHA-256 of the text's UTF-8 bytes.
    static QString digestOf(const QString& text);

    qint64 pid() const { return pid_; }
    const AccessibleElement& element() const { return element_; }
    const AccessibleElement& window() const { return window_; }
    const TextSelection& selection() const { return selection_; }
    const QString& contentDigest() const { return contentDigest_; }

private:
    // The field's current text when it is still focused and unchanged.
    std::optional<QString> confirmedText() const;

    qint64 pid_;
    AccessibleElement element_;
    AccessibleElement window_;
    TextSelection selection_;
    QString contentDigest_;
    std::shared_ptr<FieldAccess> access_;
};
