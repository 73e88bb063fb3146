#include "AtspiDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>
#include <vector>

namespace {

const char* const focusEvent = "object:state-changed:focused";

struct EventDeleter {
    void operator()(AtspiEvent* event) const { g_boxed_free(ATSPI_TYPE_EVENT, event); }
};
using EventPtr = std::unique_ptr<AtspiEvent, EventDeleter>;

AtspiAccessible* accessibleOf(const AccessibleElement& element) {
    return static_cast<AtspiAccessible*>(element.handle());
}

GObjectRef<AtspiStateSet> freshStates(AtspiAccessible* accessible) {
    // States are cached from events we do not listen to; ask the application itself.
    atspi_accessible_clear_cache(accessible);
    return GObjectRef<AtspiStateSet>::adopt(atspi_accessible_get_state_set(accessible));
}

std::optional<AtspiRole> roleOf(AtspiAccessible* accessible) {
    GErrorSlot error;
    const AtspiRole role = atspi_accessible_get_role(accessible, error.out());
    if (error.failed() || role == ATSPI_ROLE_INVALID)
        return std::nullopt;
    return role;
}

bool isWindowRole(AtspiRole role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG;
}

GObjectRef<AtspiText> textOf(const AccessibleElement& element) {
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return {};
    return GObjectRef<AtspiText>::adopt(atspi_accessible_get_text_iface(accessible));
}

} // namespace

AtspiDesktop::AtspiDesktop() {
    const int status = atspi_init();
    constexpr int alreadyInitialised = 1;
    if (status != 0 && status != alreadyInitialised)
        return;
    atspi_set_timeout(callTimeoutMs, callTimeoutMs);
    listener_ = GObjectRef<AtspiEventListener>::adopt(
        atspi_event_listener_new(&AtspiDesktop::onFocusEvent, this, nullptr));
    GErrorSlot error;
    if (!listener_ || !atspi_event_listener_register(listener_.get(), focusEvent, error.out()))
        listener_ = {};
    connected_ = true;
}

AtspiDesktop::~AtspiDesktop() {
    stopFollowingFocus();
}

void AtspiDesktop::stopFollowingFocus() {
    stopLearning();
    if (listener_)
        atspi_event_listener_deregister(listener_.get(), focusEvent, nullptr);
    listener_ = {};
    latestFocus_ = {};
}

void AtspiDesktop::onFocusEvent(AtspiEvent* event, void* self) {
    const EventPtr owned(event);
    // detail1 is 1 when the source gained the focus; losing it leaves the last winner,
    // so the field a key grab took the focus from stays the latest one. Our own windows
    // never receive a paste and must not displace the field the user typed in.
    if (!event->source || event->detail1 != 1)
        return;
    auto* desktop = static_cast<AtspiDesktop*>(self);
    if (desktop->processId(event->source) == QCoreApplication::applicationPid())
        return;
    desktop->latestFocus_ = GObjectRef<AtspiAccessible>::share(event->source);
}

AccessibleElement AtspiDesktop::wrap(const GObjectRef<AtspiAccessible>& accessible) {
    AtspiObject* object = ATSPI_OBJECT(accessible.get());
    const QString bus = object->app ? QString::fromUtf8(object->app->bus_name) : QString();
    std::shared_ptr<void> handle(g_object_ref(accessible.get()), g_object_unref);
    return AccessibleElement(bus, QString::fromUtf8(object->path), std::move(handle));
}

std::optional<qint64> AtspiDesktop::processId(AtspiAccessible* accessible) {
    AtspiObject* object = ATSPI_OBJECT(accessible);
    if (!object->app || !object->app->bus_name)
        return std::nullopt;
    const QString bus = QString::fromUtf8(object->app->bus_name);
    if (const auto known = processOfBusName_.constFind(bus); known != processOfBusName_.cend())
        return *known;
    GErrorSlot error;
    const guint pid = atspi_accessible_get_process_id(accessible, error.out());
    if (error.failed() || pid == 0 || pid == static_cast<guint>(-1))
        return std::nullopt;
    processOfBusName_.insert(bus, pid);
    return pid;
}

bool AtspiDesktop::isFocused(AtspiAccessible* accessible, bool orJustExisting) {
    const GObjectRef<AtspiStateSet> states = freshStates(accessible);
    if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT))
        return false;
    return orJustExisting || atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED);
}

AccessibleElement AtspiDesktop::focused(qint64 pid, bool grabHeld) {
    if (!connected_)
        return {};
    // A copy: the calls below can deliver a newer focus event.
    const GObjectRef<AtspiAccessible> latest = latestFocus_;
    if (latest && processId(latest.get()) == pid) {
        if (isFocused(latest.get(), grabHeld))
            return wrap(latest);
        // The application no longer reports this element focused; look for the one it does.
    }
    const GObjectRef<AtspiAccessible> found = search(pid);
    if (!found)
        return {};
    // Qt announces no focus when its window is merely re-activated: remember what the
    // search found, so the next question about this application is answered at once.
    latestFocus_ = found;
    return wrap(found);
}

GObjectRef<AtspiAccessible> AtspiDesktop::search(qint64 pid) {
    QElapsedTimer clock;
    clock.start();
    Search search = beginSearch(pid);
    GObjectRef<AtspiAccessible> found;
    continueSearch(search, clock, searchBudgetMs, found);
    return found;
}

AtspiDesktop::Search AtspiDesktop::beginSearch(qint64 pid) {
    const auto desktop = GObjectRef<AtspiAccessible>::adopt(atspi_get_desktop(0));
    if (!desktop)
        return {};
    GErrorSlot countError;
    const gint applications = atspi_accessible_get_child_count(desktop.get(), countError.out());
    if (countError.failed())
        return {};
    for (gint i = 0; i < applications; ++i) {
        GErrorSlot error;
        auto child = GObjectRef<AtspiAccessible>::adopt(
            atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
        if (child && processId(child.get()) == pid) {
            Search search;
            search.application = child;
            search.pending.push_back(std::move(child));
            return search;
        }
    }
    return {};
}

bool AtspiDesktop::continueSearch(Search& search, const QElapsedTimer& clock, int budgetMs,
                                  GObjectRef<AtspiAccessible>& found) {
    // Depth first over what is showing; any failed call ends the search, since the
    // application may not be answering at all.
    const auto end = [&search] {
        search.pending.clear();
        return false;
    };
    while (!search.pending.empty() && search.visited < maxSearchedElements) {
        if (clock.elapsed() >= budgetMs)
            return true;
        const GObjectRef<AtspiAccessible> node = std::move(search.pending.back());
        search.pending.pop_back();
        ++search.visited;
        if (node.get() != search.application.get()) {
            const GObjectRef<AtspiStateSet> states = freshStates(node.get());
            if (!states)
                return end();
            if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
                found = node;
                return end();
            }
            // GTK 4 marks containers visible but not showing.
            if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING) &&
                !atspi_state_set_contains(states.get(), ATSPI_STATE_VISIBLE))
                continue;
        }
        GErrorSlot error;
        const gint children = atspi_accessible_get_child_count(node.get(), error.out());
        if (error.failed())
            return end();
        for (gint i = children - 1; i >= 0; --i) {
            GErrorSlot childError;
            auto child = GObjectRef<AtspiAccessible>::adopt(
                atspi_accessible_get_child_at_index(node.get(), i, childError.out()));
            if (childError.failed())
                return end();
            if (child)
                search.pending.push_back(std::move(child));
        }
    }
    return end();
}

void AtspiDesktop::learnFocus(qint64 pid) {
    if (!connected_)
        return;
    stopLearning();
    auto search = std::make_unique<Search>(beginSearch(pid));
    if (search->pending.empty())
        return;
    search->clock.start();
    learning_ = std::move(search);
    learningSource_ = g_timeout_add(0, &AtspiDesktop::onLearningSlice, this);
}

void AtspiDesktop::stopLearning() {
    if (learningSource_)
        g_source_remove(learningSource_);
    learningSource_ = 0;
    learning_.reset();
}

gboolean AtspiDesktop::onLearningSlice(gpointer self) {
    auto* desktop = static_cast<AtspiDesktop*>(self);
    // Held here during the slice: the calls below may run other events, and one of
    // them may stop the learning.
    std::unique_ptr<Search> search = std::move(desktop->learning_);
    const guint source = desktop->learningSource_;
    QElapsedTimer slice;
    slice.start();
    GObjectRef<AtspiAccessible> found;
    // A focus event, or a search of the caller's own, names a newer element than the
    // one this search set out to find.
    const bool more = !desktop->latestFocus_ &&
                      desktop->continueSearch(*search, slice, learningSliceMs, found) &&
                      search->clock.elapsed() < learningBudgetMs;
    if (desktop->learningSource_ != source)
        return G_SOURCE_REMOVE;
    if (more) {
        desktop->learning_ = std::move(search);
        return G_SOURCE_CONTINUE;
    }
    if (found && !desktop->latestFocus_)
        desktop->latestFocus_ = found;
    desktop->learningSource_ = 0;
    return G_SOURCE_REMOVE;
}

std::optional<QString> AtspiDesktop::role(const AccessibleElement& element) {
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return std::nullopt;
    const std::optional<AtspiRole> role = roleOf(accessible);
    if (!role)
        return std::nullopt;
    const GCharPtr name(atspi_role_get_name(*role));
    if (!name)
        return std::nullopt;
    return QString::fromUtf8(name.get());
}

std::optional<AccessibleElement> AtspiDesktop::window(const AccessibleElement& element) {
    AtspiAccessible* accessible = accessibleOf(element);
    if (!accessible)
        return std::nullopt;
    // The nearest frame, window or dialog; toolkits that expose none (Qt) put the
    // window directly below the application, so the top-level ancestor stands for it.
    GObjectRef<AtspiAccessible> node = GObjectRef<AtspiAccessible>::share(accessible);
    for (int depth = 0; depth < maxAncestors; ++depth) {
        GErrorSlot error;
        auto parent = GObjectRef<AtspiAccessible>::adopt(
            atspi_accessible_get_parent(node.get(), error.out()));
        if (error.failed() || !parent)
            return std::nullopt;
        const std::optional<AtspiRole> role = roleOf(parent.get());
        if (!role)
            return std::nullopt;
        if (isWindowRole(*role))
            return wrap(parent);
        if (*role == ATSPI_ROLE_APPLICATION) {
            if (node.get() == accessible)
                return std::nullopt;
            return wrap(node);
        }
        node = std::move(parent);
    }
    return std::nullopt;
}

std::optional<TextSelection> AtspiDesktop::selection(const AccessibleElement& element) {
    const GObjectRef<AtspiText> text = textOf(element);
    if (!text)
        return std::nullopt;
    TextSelection selection;
    GErrorSlot caretError;
    selection.caret = atspi_text_get_caret_offset(text.get(), caretError.out());
    if (caretError.failed())
        return std::nullopt;
    GErrorSlot countError;
    const gint count = atspi_text_get_n_selections(text.get(), countError.out());
    if (countError.failed())
        return std::nullopt;
    for (gint i = 0; i < count; ++i) {
        GErrorSlot error;
        const std::unique_ptr<AtspiRange, GFreeDeleter> range(
            atspi_text_get_selection(text.get(), i, error.out()));
        if (error.failed() || !range)
            return std::nullopt;
        selection.ranges.push_back({range->start_offset, range->end_offset});
    }
    return selection;
}

std::optional<QString> AtspiDesktop::text(const AccessibleElement& element) {
    const GObjectRef<AtspiText> text = textOf(element);
    if (!text)
        return std::nullopt;
    // By its character count: GTK 4 answers an end offset of -1 (the end) with no text.
    GErrorSlot countError;
    const gint count = atspi_text_get_character_count(text.get(), countError.out());
    if (countError.failed() || count < 0)
        return std::nullopt;
    GErrorSlot error;
    const GCharPtr value(atspi_text_get_text(text.get(), 0, count, error.out()));
    if (error.failed() || !value)
        return std::nullopt;
    return QString::fromUtf8(value.get());
}

std::optional<qint64> AtspiDesktop::characterCount(const AccessibleElement& element) {
    const GObjectRef<AtspiText> text = textOf(element);
    if (!text)
        return std::nullopt;
    GErrorSlot error;
    const gint count = atspi_text_get_character_count(text.get(), error.out());
    if (error.failed() || count < 0)
        return std::nullopt;
    return count;
}
