#include "PasteTarget.h"

#include "LinuxFieldAccess.h"
#include "TerminalApplications.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

// Hands the controller a captured field it can paste into once.
class CapturedPasteTarget final : public CapturedField {
public:
    explicit CapturedPasteTarget(PasteTarget target)
        : target_(std::move(target)) {}
    bool paste(const QString& transcript, std::optional<QString>& failure) override {
        return target_.paste(transcript, failure);
    }
    bool focusReturning() override { return target_.focusReturning(); }

private:
    PasteTarget target_;
};

} // namespace

PasteTarget::PasteTarget(qint64 pid, AccessibleElement element, AccessibleElement window,
                         TextSelection selection, QString contentDigest,
                         std::shared_ptr<FieldAccess> access)
    : pid_(pid)
    , element_(std::move(element))
    , window_(std::move(window))
    , selection_(std::move(selection))
    , contentDigest_(std::move(contentDigest))
    , access_(std::move(access)) {}

std::optional<PasteTarget> PasteTarget::capture(std::optional<QString>& failure,
                                                const std::shared_ptr<FieldAccess>& access) {
    failure.reset();
    auto fail = [&failure](const QString& reason) {
        failure = reason;
        return std::nullopt;
    };

    if (!access->isTrusted())
        return fail(notTrusted);
    const std::optional<FrontmostApplication> frontmost = access->frontmostApplication();
    if (!frontmost || frontmost->pid == access->ownProcessId())
        return fail(noFrontmostField);
    if (TerminalApplications::contains(frontmost->identifiers))
        return fail(terminal);
    const AccessibleElement element = focused(frontmost->pid, *access);
    if (element.isNull())
        return fail(noFocusedElement);
    // The secure role is looked at before the accepted ones.
    const std::optional<QString> role = access->role(element);
    if (role && *role == secureRole)
        return fail(passwordField);
    if (!role || !acceptedRoles.contains(*role))
        return fail(notTextField);
    const std::optional<AccessibleElement> window = access->window(element);
    if (!window || window->isNull())
        return fail(noWindow);
    std::optional<TextSelection> selection = access->selection(element);
    if (!selection)
        return fail(noCursor);
    std::optional<QString> contentDigest = digest(element, *access);
    if (!contentDigest)
        return fail(noContents);
    return PasteTarget(frontmost->pid, element, *window, std::move(*selection),
                       std::move(*contentDigest), access);
}

std::optional<PasteTarget> PasteTarget::capture(std::optional<QString>& failure) {
    return capture(failure, desktop());
}

std::shared_ptr<FieldAccess> PasteTarget::desktop() {
    return LinuxFieldAccess::shared();
}

std::unique_ptr<CapturedField> PasteTarget::captureField(std::optional<QString>& failure) {
    std::optional<PasteTarget> target = capture(failure);
    if (!target)
        return nullptr;
    return std::make_unique<CapturedPasteTarget>(std::move(*target));
}

bool PasteTarget::startWatchingFocus() {
    const std::shared_ptr<FieldAccess> access = desktop();
    if (!access->isTrusted())
        return false;
    // Learn the field that had the focus before we started: while our shortcut is held
    // GTK reports it unfocused, and the first dictation would not find it.
    const std::optional<FrontmostApplication> frontmost = access->frontmostApplication();
    if (frontmost && frontmost->pid != access->ownProcessId())
        access->learnFocus(frontmost->pid);
    return true;
}

void PasteTarget::stopWatchingFocus() {
    LinuxFieldAccess::shared()->stopWatchingFocus();
}

bool PasteTarget::isStillFocused() const {
    return confirmedText().has_value();
}

std::optional<QString> PasteTarget::confirmedText() const {
    // Keystrokes would reach the grab, not the field.
    if (!access_->isTrusted() || access_->keyboardGrab() == KeyboardGrab::held)
        return std::nullopt;
    const std::optional<FrontmostApplication> frontmost = access_->frontmostApplication();
    if (!frontmost || frontmost->pid != pid_)
        return std::nullopt;
    const AccessibleElement current = focused(pid_, *access_);
    if (current.isNull() || !(current == element_))
        return std::nullopt;
    const std::optional<AccessibleElement> window = access_->window(current);
    if (!window || !(*window == window_))
        return std::nullopt;
    const std::optional<TextSelection> selection = access_->selection(current);
    if (!selection || !(*selection == selection_))
        return std::nullopt;
    std::optional<QString> text = contents(current, *access_);
    if (!text || digestOf(*text) != contentDigest_)
        return std::nullopt;
    return text;
}

bool PasteTarget::paste(const QString& transcript, std::optional<QString>& failure) const {
    if (access_->modifierHeld()) {
        failure = modifierHeld;
        return false;
    }
    const std::optional<QString> text = confirmedText();
    if (!text) {
        failure = targetChanged;
        return false;
    }
    // The clipboard keeps the bare transcript: the space is typed, not pasted.
    // Nothing may wait on the target after this: it fetches the clipboard from our
    // event loop.
    if ((needsLeadingSpace(*text, selection_, transcript) && !access_->postSpaceKeystroke()) ||
        !access_->postPasteKeystroke()) {
        failure = keystrokeFailed;
        return false;
    }
    return true;
}

bool PasteTarget::focusReturning() const {
    return access_->keyboardGrab() != KeyboardGrab::none;
}

bool PasteTarget::needsLeadingSpace(const QString& text, const TextSelection& selection,
                                    const QString& transcript) {
    // A paste replaces the selection, so what precedes the selection is what it meets.
    qsizetype at = selection.caret;
    for (const TextSelection::Range& range : selection.ranges) {
        if (range.start != range.end && std::min(range.start, range.end) <= at &&
            at <= std::max(range.start, range.end))
            at = std::min(range.start, range.end);
    }
    const QList<uint> before = text.toUcs4();
    const QList<uint> pasted = transcript.left(2).toUcs4();
    if (at <= 0 || at > before.size() || pasted.isEmpty())
        return false;
    const uint first = pasted.constFirst();
    return !QChar::isSpace(before[at - 1]) && (QChar::isLetter(first) || QChar::isDigit(first));
}

AccessibleElement PasteTarget::focused(qint64 pid, FieldAccess& access) {
    return access.focusedElement(pid);
}

std::optional<QString> PasteTarget::digest(const AccessibleElement& element, FieldAccess& read) {
    const std::optional<QString> text = contents(element, read);
    return text ? std::optional(digestOf(*text)) : std::nullopt;
}

std::optional<QString> PasteTarget::contents(const AccessibleElement& element, FieldAccess& read) {
    if (std::optional<QString> text = read.text(element))
        return text;
    const std::optional<qint64> count = read.characterCount(element);
    if (count && *count == 0)
        return QString();
    return std::nullopt;
}

QString PasteTarget::digestOf(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}
