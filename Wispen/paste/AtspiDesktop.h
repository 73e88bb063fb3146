#pragma once

#include "AccessibleElement.h"
#include "GLibHandles.h"
#include "TextSelection.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <atspi/atspi.h>

#include <memory>
#include <optional>
#include <vector>

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
    // Bounds of the background search, and of each of its slices.
    static constexpr int learningBudgetMs = 3000;
    static constexpr int learningSliceMs = 20;

    AtspiDesktop();
    ~AtspiDesktop();
    AtspiDesktop(const AtspiDesktop&) = delete;
    AtspiDesktop& operator=(const AtspiDesktop&) = delete;

    // False when the accessibility bus could not be joined.
    bool isConnected() const { return connected_; }

    // Stops listening to focus events; focused() then relies on its search.
    void stopFollowingFocus();

    // Looks for the focused element of process `pid` in the background, in slices
    // between other events, and remembers it unless a focus event names one first.
    // For an application that had the focus before we listened: once our shortcut's
    // grab holds the keyboard, GTK reports its field unfocused and no search finds it,
    // and a large application outlasts the budget a search on the caller's time has.
    void learnFocus(qint64 pid);
    bool isLearning() const { return learningSource_ != 0; }

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
    // Where a search of one application stands.
    struct Search {
        GObjectRef<AtspiAccessible> application;
        std::vector<GObjectRef<AtspiAccessible>> pending;
        int visited = 0;
        QElapsedTimer clock;
    };
    GObjectRef<AtspiAccessible> search(qint64 pid);
    // No pending elements when the application is not on the bus.
    Search beginSearch(qint64 pid);
    // Whether the search may go on: false once it found an element (`found`), ran
    // out of elements or failed; true when `clock` passed `budgetMs` first.
    bool continueSearch(Search& search, const QElapsedTimer& clock, int budgetMs,
                        GObjectRef<AtspiAccessible>& found);
    void stopLearning();
    static gboolean onLearningSlice(gpointer self);
    static AccessibleElement wrap(const GObjectRef<AtspiAccessible>& accessible);

    bool connected_ = false;
    GObjectRef<AtspiEventListener> listener_;
    GObjectRef<AtspiAccessible> latestFocus_;
    std::unique_ptr<Search> learning_;
    guint learningSource_ = 0;
    // Bus names are never reused, so the process behind each can be remembered.
    QHash<QString, qint64> processOfBusName_;
};
