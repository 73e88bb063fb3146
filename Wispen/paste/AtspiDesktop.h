#pragma once

#include "AccessibleElement.h"
#include "GLibHandles.h"
#include "TextSelection.h"

#include <QHash>
#include <QString>

#include <atspi/atspi.h>

#include <optional>

// The accessibility bus (AT-SPI) as the paste target needs it. AT-SPI has no
// "focused element" query, so this follows object:state-changed:focused events from
// the moment it is made and keeps the element the latest one named; its events
// arrive through the GLib main loop that Qt's event dispatcher runs. Every call to
// another application is bounded by `callTimeoutMs`, so a hung application costs a
// refusal, never a frozen main thread.
class AtspiDesktop {
public:
    static constexpr int callTimeoutMs = 250;
    // Bounds of the search for a focused element that no event named yet.
    static constexpr int maxSearchedElements = 4000;
    static constexpr int searchBudgetMs = 150;
    static constexpr int maxAncestors = 64;

    AtspiDesktop();
    ~AtspiDesktop();
    AtspiDesktop(const AtspiDesktop&) = delete;
    AtspiDesktop& operator=(const AtspiDesktop&) = delete;

    // False when the accessibility bus could not be joined.
    bool isConnected() const { return connected_; }

    // Stops listening to focus events; focused() then relies on its search.
    void stopFollowingFocus();

    // The focused element of process `pid`: the one the latest focus event named while
    // it still has the focus and belongs to `pid`, otherwise one found by a bounded
    // search of that application; null when neither finds one. While a key grab holds
    // the keyboard (`grabHeld`), the application reports its field unfocused: the
    // element the latest focus event named counts as focused as long as it exists.
    AccessibleElement focused(qint64 pid, bool grabHeld = false);

    // Nothing when unreadable; see FieldAccess for each.
    std::optional<QString> role(const AccessibleElement& element);
    std::optional<AccessibleElement> window(const AccessibleElement& element);
    std::optional<TextSelection> selection(const AccessibleElement& element);
    std::optional<QString> text(const AccessibleElement& element);
    std::optional<qint64> characterCount(const AccessibleElement& element);

private:
    static void onFocusEvent(AtspiEvent* event, void* self);
    std::optional<qint64> processId(AtspiAccessible* accessible);
    bool isFocused(AtspiAccessible* accessible, bool orJustExisting);
    GObjectRef<AtspiAccessible> search(qint64 pid);
    static AccessibleElement wrap(const GObjectRef<AtspiAccessible>& accessible);

    bool connected_ = false;
    GObjectRef<AtspiEventListener> listener_;
    GObjectRef<AtspiAccessible> latestFocus_;
    // Bus names are never reused, so the process behind each can be remembered.
    QHash<QString, qint64> processOfBusName_;
};
