#include "PasteTarget.h"

#include "LinuxFieldAccess.h"
#include "TerminalApplications.h"

#include <QCryptographicHash>

namespace {

// Hands the controller a captured field it can paste into once.
class CapturedPasteTarget final : public CapturedField {
public:
    explicit CapturedPasteTarget(PasteTarget target)
        : target_(std::move(target)) {}
    bool paste(std::optional<QString>& failure) override { return target_.paste(failure); }

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
    return desktop()->isTrusted();
}

void PasteTarget::stopWatchingFocus() {
    LinuxFieldAccess::shared()->stopWatchingFocus();
}

bool PasteTarget::isStillFocused() const {
    if (!access_->isTrusted())
        return false;
    const std::optional<FrontmostApplication> frontmost = access_->frontmostApplication();
    if (!frontmost || frontmost->pid != pid_)
        return false;
    const AccessibleElement current = focused(pid_, *access_);
    if (current.isNull() || !(current == element_))
        return false;
    const std::optional<AccessibleElement> window = access_->window(current);
    if (!window || !(*window == window_))
        return false;
    const std::optional<TextSelection> selection = access_->selection(current);
    if (!selection || !(*selection == selection_))
        return false;
    const std::optional<QString> contentDigest = digest(current, *access_);
    return contentDigest && *contentDigest == contentDigest_;
}

bool PasteTarget::paste(std::optional<QString>& failure) const {
    if (access_->modifierHeld()) {
        failure = modifierHeld;
        return false;
    }
    if (!isStillFocused()) {
        failure = targetChanged;
        return false;
    }
    // Nothing may wait on the target after this: it fetches the clipboard from our
    // event loop.
    if (!access_->postPasteKeystroke()) {
        failure = keystrokeFailed;
        return false;
    }
    return true;
}

AccessibleElement PasteTarget::focused(qint64 pid, FieldAccess& access) {
    return access.focusedElement(pid);
}

std::optional<QString> PasteTarget::digest(const AccessibleElement& element, FieldAccess& read) {
    if (std::optional<QString> text = read.text(element))
        return digestOf(*text);
    const std::optional<qint64> count = read.characterCount(element);
    if (count && *count == 0)
        return digestOf(QString());
    return std::nullopt;
}

QString PasteTarget::digestOf(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}
