#pragma once

#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

// The private folders recordings are made in, named after the process that owns
// them: "wispen-<process id>-<boot id>-<UUID>". A process that is killed while it
// records, or quits past its clean-up, cannot remove its folder; the next start
// removes every folder whose owner is gone, and never one whose owner may still run.
namespace RecordingFolders {

struct Owner {
    qint64 pid = 0;
    // The kernel's boot id; empty when it could not be read.
    QString boot;

    bool operator==(const Owner&) const = default;
};

// This process in this boot.
Owner self();

// The folder name of a new recording of `owner`. Without a boot the name carries no
// owner, and no sweep ever removes the folder.
QString name(const Owner& owner, const QUuid& id);

// The owner a folder name records; nothing for any other name.
std::optional<Owner> ownerOf(const QString& name);

// True when the owner's folders can go: it ran in another boot, or its process has
// ended. Nothing is abandoned while the current boot is unknown.
bool isAbandoned(const Owner& owner, const QString& currentBoot,
                 const std::function<bool(qint64 pid)>& isRunning);

// Removes the abandoned recording folders directly inside `directory` (an absolute
// path) that are real folders of this user, not links; failures are ignored.
void sweep(const QString& directory);

} // namespace RecordingFolders
