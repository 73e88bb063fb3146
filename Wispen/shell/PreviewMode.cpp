#include "PreviewMode.h"

#include "AppDelegate.h"
#include "PanelContent.h"
#include "PublishedState.h"
#include "ViewStyle.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QPixmap>
#include <QPointer>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using Phase = ReradazIzavo::Phase;

const QString sampleTranscript = QStringLiteral("A short test transcript.");
const QString sampleHint = QStringLiteral("This app did not expose the text cursor position.");
constexpr int narrowestRecordingHud = 150;

// The argument after the first `option`, when there is one.
std::optional<QString> valueAfter(const QStringList& arguments, const QString& option) {
    const qsizetype at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(at + 1);
}

void applySample(ReradazIzavo& model, const QString& state) {
    using S = PublishedState;
    if (state == QLatin1String("ready")) {
        S::setLastTranscript(model, sampleTranscript);
        S::setStatus(model, QStringLiteral("Copied"));
    } else if (state == QLatin1String("short-hold")) {
        S::setStatus(model, QStringLiteral("Keep holding to record"));
    } else if (state == QLatin1String("paste-fallback")) {
        S::setStatus(model, QStringLiteral("Copied"));
        S::setLastTranscript(model, sampleTranscript);
        S::setPasteHint(model, sampleHint);
        S::setDetail(model, sampleHint + QStringLiteral(" Press Ctrl+V to paste."));
    } else if (state == QLatin1String("recording")) {
        S::setPhase(model, Phase::recording);
        S::setStatus(model, QStringLiteral("Listening"));
        S::setSeconds(model, 12);
        S::setLevel(model, 0.6);
    } else if (state == QLatin1String("error")) {
        S::setPhase(model, Phase::failed);
        S::setStatus(model, QStringLiteral("Couldn’t connect"));
        S::setDetail(model, QStringLiteral("Your recording is ready to retry when you’re online."));
    } else if (state == QLatin1String("processing")) {
        S::setPhase(model, Phase::transcribing);
        S::setStatus(model, QStringLiteral("Transcribing"));
    }
}

// The panel's content moved into an ordinary borderless window.
QWidget* fixtureWindow(AppDelegate& delegate) {
    PanelContent* content = delegate.panelContent();
    if (!content)
        return nullptr;
    auto* window = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window->setAutoFillBackground(true);
    window->setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    const int height = window->heightForWidth(PanelContent::panelWidth);
    window->resize(PanelContent::panelWidth, height > 0 ? height : window->sizeHint().height());
    window->move(0, 0);
    delegate.setWindow(window);
    window->show();
    return window;
}

int capture(AppDelegate* delegate, const QStringList& arguments, bool fixture,
            const QString& state) {
    if (!delegate)
        return PreviewMode::missingTarget;
    const auto path = valueAfter(arguments, QStringLiteral("--capture"));
    if (!path)
        return PreviewMode::missingTarget;
    const bool hud = arguments.contains(QLatin1String("--hud"));
    const bool settings = arguments.contains(QLatin1String("--settings"));
    QWidget* target = hud                     ? delegate->hud()
                      : (settings || fixture) ? delegate->window()
                                              : delegate->panel();
    if (!target || !target->isVisible())
        return PreviewMode::missingTarget;
    QCoreApplication::processEvents();
    if (hud && state == QLatin1String("recording") && target->width() < narrowestRecordingHud) {
        QTextStream(stderr) << "Recording HUD clipped: expected room for microphone, timer, level "
                               "and stop control.\n";
        return PreviewMode::hudClipped;
    }
    const QPixmap image = target->grab();
    if (image.isNull())
        return PreviewMode::captureFailed;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return PreviewMode::captureFailed;
    QFile file(*path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(png) != png.size() ||
        !file.flush())
        return PreviewMode::writeFailed;
    file.close();
    QTextStream(stdout) << "PASS native " << state << ' ' << (settings ? "settings" : "popover")
                        << ' ' << (fixture ? "fixture-window" : "window") << ' ' << target->width()
                        << 'x' << target->height() << '\n';
    return PreviewMode::written;
}

} // namespace

void PreviewMode::run(AppDelegate& delegate, const QStringList& arguments) {
    const bool fixture = arguments.contains(QLatin1String("--fixture-window"));
    if (arguments.contains(QLatin1String("--light")))
        QApplication::setPalette(ViewStyle::lightPalette());
    if (arguments.contains(QLatin1String("--dark")))
        QApplication::setPalette(ViewStyle::darkPalette());

    const QString state =
        valueAfter(arguments, QStringLiteral("--state")).value_or(QStringLiteral("idle"));
    applySample(delegate.model(), state);
    delegate.refresh();

    if (arguments.contains(QLatin1String("--hud"))) {
        if (QWidget* hud = delegate.hud()) {
            hud->show();
            hud->raise();
        }
    } else if (arguments.contains(QLatin1String("--settings"))) {
        delegate.settings();
    } else if (!fixture || !fixtureWindow(delegate)) {
        delegate.togglePanel();
    }
    if (arguments.contains(QLatin1String("--permissions-needed")))
        PublishedState::setAccessibilityGranted(delegate.model(), false);

    QTimer::singleShot(renderDelayMs,
                       [self = QPointer<AppDelegate>(&delegate), arguments, fixture, state] {
                           QCoreApplication::exit(capture(self, arguments, fixture, state));
                       });
}
