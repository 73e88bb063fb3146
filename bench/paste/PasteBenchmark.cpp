// How long the paste target keeps the user waiting: capture at the start of a
// dictation, and the confirmation plus keystroke at its end, against a Qt and a GTK
// application of ours. Run inside a desktop (tests/harness/in-desktop.sh).

#include "PasteTarget.h"
#include "TargetApplication.h"

#include <QApplication>
#include <QClipboard>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int samples = 200;

std::unique_ptr<TargetApplication> qtTarget;
std::unique_ptr<TargetApplication> gtkTarget;

double percentile95(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(0.95 * (sorted.size() - 1))];
}

TargetApplication& target(int index) {
    return index == 0 ? *qtTarget : *gtkTarget;
}

// Focuses the target's line field and waits until a capture of it succeeds.
std::optional<PasteTarget> focusAndCapture(TargetApplication& application) {
    std::optional<PasteTarget> captured;
    if (!application.focus(QStringLiteral("line")))
        return captured;
    waitUntil([&] {
        std::optional<QString> failure;
        captured = PasteTarget::capture(failure);
        return captured && captured->pid() == application.pid();
    });
    return captured;
}

void Capture(benchmark::State& state) {
    TargetApplication& application = target(static_cast<int>(state.range(0)));
    if (!focusAndCapture(application)) {
        state.SkipWithError("the target's field could not be captured");
        return;
    }
    for (auto _ : state) {
        std::optional<QString> failure;
        std::optional<PasteTarget> captured = PasteTarget::capture(failure);
        benchmark::DoNotOptimize(captured);
        if (!captured) {
            state.SkipWithError("capture failed");
            return;
        }
    }
}

void ConfirmAndPaste(benchmark::State& state) {
    TargetApplication& application = target(static_cast<int>(state.range(0)));
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    for (auto _ : state) {
        state.PauseTiming();
        const std::optional<PasteTarget> captured = focusAndCapture(application);
        state.ResumeTiming();
        if (!captured) {
            state.SkipWithError("the target's field could not be captured");
            return;
        }
        std::optional<QString> failure;
        // paste() confirms with isStillFocused() before it posts the keystroke.
        const bool posted = captured->paste(QStringLiteral("dictated"), failure);
        state.PauseTiming();
        if (!posted) {
            state.SkipWithError("paste refused");
            return;
        }
        // Let the target fetch the clipboard and insert it before the next round.
        waitUntil([&] { return !captured->isStillFocused(); });
        state.ResumeTiming();
    }
}

void register_(const char* name, void (*function)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, function)
        ->ArgName("gtk")
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(samples)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("p95", percentile95);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    PasteTarget::startWatchingFocus();
    qtTarget =
        std::make_unique<TargetApplication>(QStringLiteral(WISPEN_QT_FIELDS_APP), QStringList());
    gtkTarget = std::make_unique<TargetApplication>(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral(WISPEN_PASTE_TEST_DIR "/gtk_fields.py")});
    if (!qtTarget->isReady() || !gtkTarget->isReady())
        return 1;
    register_("Capture", Capture);
    register_("ConfirmAndPaste", ConfirmAndPaste);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtTarget.reset();
    gtkTarget.reset();
    return 0;
}
