#include "AppDelegate.h"

#include "BrandIcon.h"
#include "BundledService.h"
#include "FileUserDefaults.h"
#include "PanelContent.h"
#include "RecordingHUD.h"
#include "SettingsView.h"
#include "StatusText.h"
#include "TrayGlyph.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include <malloc.h>

namespace {

const QString productName = QStringLiteral("Wispen Rezuraz");
const QString hasOpenedKey = QStringLiteral("hasOpened");
const QString settingsTitle = QStringLiteral("Wispen Rezuraz Settings");
const QString restoreFirst = QStringLiteral("Restore the microphone key first");
const QString restoreFirstDetail =
    QStringLiteral("Turn off Use the keyboard's microphone key and retry. Restarting your "
                   "computer also clears this temporary mapping.");
const QString keepOpen = QStringLiteral("Keep open");
const QColor recordingTint(255, 59, 48);
const QColor failedTint(255, 149, 0);
constexpr QSize settingsSize(420, 368);
constexpr std::chrono::seconds returnMemoryDelay{2};

using Phase = ReradazIzavo::Phase;

bool isActive(Phase phase) {
    return phase == Phase::requestingPermission || phase == Phase::recording ||
           phase == Phase::transcribing;
}

// The screen under the pointer, else the primary one.
QScreen* screenForHud() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

// Hosts one view edge to edge.
void host(QWidget* window, QWidget* view) {
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
}

} // namespace

AppDelegate::AppDelegate(Options options, ReradazIzavo::Collaborators collaborators,
                         std::shared_ptr<UserDefaults> defaults,
                         std::unique_ptr<BundledService> service, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_service(std::move(service)) {
    // The controller and the delegate share one settings store, so neither writes
    // over the other's keys.
    if (!defaults)
        defaults = std::make_shared<FileUserDefaults>();
    m_defaults = defaults;
    collaborators.defaults = defaults;
    collaborators = std::move(collaborators).withDefaults();
    m_timers = collaborators.timers;
    m_model = std::make_unique<ReradazIzavo>(std::move(collaborators));
}

AppDelegate::~AppDelegate() {
    // The windows observe the model: they go first.
    m_ownedWindow.reset();
    m_hud.reset();
    m_tray.reset();
    m_menu.reset();
    m_panel.reset();
}

void AppDelegate::launch() {
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setToolTip(productName);
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(QStringLiteral("Quit Wispen Rezuraz"), this, &AppDelegate::quit);
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](auto reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });

    // The panel drops from the tray and closes when the user clicks elsewhere. It is a
    // tool window that hides when it loses the focus rather than a popup: a popup
    // grabs the keyboard, which would keep Ctrl+Alt+Space from us while it shows,
    // and screen readers do not find a popup's contents.
    m_panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                     Qt::WindowStaysOnTopHint);
    m_panel->installEventFilter(this);
    new QShortcut(Qt::Key_Escape, m_panel.get(), m_panel.get(), &QWidget::hide);
    m_panel->setWindowTitle(productName);
    m_panelContent = new PanelContent(
        *m_model, [this] { settings(); }, [this] { quit(); });
    host(m_panel.get(), m_panelContent);
    new QShortcut(QKeySequence::Quit, m_panel.get(), this, &AppDelegate::quit);

    m_model->onChange = [self = QPointer<AppDelegate>(this)] {
        if (self)
            self->refresh();
    };

    // The HUD floats above everything on every desktop and never takes the focus.
    m_hud = std::make_unique<QWidget>(
        nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                     Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    m_hud->setAttribute(Qt::WA_ShowWithoutActivating);
    m_hud->setAttribute(Qt::WA_TranslucentBackground);
    m_hud->setWindowTitle(productName);
    host(m_hud.get(), new RecordingHUD(*m_model));
    m_hud->resize(250, 48);

    QApplication::setWindowIcon(BrandIcon::icon());
    m_tray->setIcon(trayIcon(QApplication::palette().color(QPalette::WindowText)));
    // A new screen may have a pixel ratio the icons were not drawn at.
    connect(qApp, &QGuiApplication::screenAdded, this, [this] { m_trayIcons.clear(); });
    m_tray->show();

    if (m_options.preview) {
        refresh();
        return;
    }
    // Any of our windows becoming active is the application becoming active.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    m_model->refreshPermissions();
            });
    if (m_service)
        connect(m_model.get(), &ReradazIzavo::phaseChanged, this, [this] {
            if (isActive(m_model->phase()))
                m_service->ensureRunning();
        });
    // Recording, uploading and pasting free their memory on several threads, and the
    // allocator keeps what was freed for reuse, split by what stays: about 5 MB after
    // thirty dictations. Once the application has been idle a moment it hands the whole
    // free pages back to the system, off the main thread.
    m_returnMemory.setSingleShot(true);
    m_returnMemory.setInterval(returnMemoryDelay);
    connect(&m_returnMemory, &QTimer::timeout, this,
            [] { QThreadPool::globalInstance()->start([] { malloc_trim(0); }); });
    connect(m_model.get(), &ReradazIzavo::phaseChanged, this, [this] {
        if (isActive(m_model->phase()))
            m_returnMemory.stop();
        else
            m_returnMemory.start();
    });
    m_returnMemory.start();
    m_model->start();
    refresh();

    if (m_options.showSettings) {
        settings();
        return;
    }
    if (!m_defaults->boolValue(hasOpenedKey)) {
        m_defaults->setValue(hasOpenedKey, true);
        // Once the tray has placed the icon, so the panel can drop from it.
        QTimer::singleShot(0, this, &AppDelegate::togglePanel);
    }
}

void AppDelegate::refresh() {
    const Phase phase = m_model->phase();
    if (m_tray) {
        const QColor tint = phase == Phase::recording ? recordingTint
                            : phase == Phase::failed
                                ? failedTint
                                : QApplication::palette().color(QPalette::WindowText);
        const QIcon& icon = trayIcon(tint);
        if (m_tray->icon().cacheKey() != icon.cacheKey())
            m_tray->setIcon(icon);
        m_tray->setToolTip(productName + QStringLiteral(" · ") + m_model->status());
    }

    const auto decision =
        m_presence.update(isActive(phase), m_model->status() == StatusText::ready);
    m_linger.reset();
    if (m_hud) {
        switch (decision.action) {
        case HudPresence::Action::show:
            placeHud();
            showHud();
            break;
        case HudPresence::Action::linger:
            showHud();
            m_linger = m_timers->startRepeating(std::chrono::milliseconds(HudPresence::lingerMs),
                                                [this, generation = decision.generation] {
                                                    if (!m_presence.current(generation))
                                                        return;
                                                    m_hud->hide();
                                                    // Not from inside its own tick.
                                                    QMetaObject::invokeMethod(
                                                        this,
                                                        [this, generation] {
                                                            if (m_presence.current(generation))
                                                                m_linger.reset();
                                                        },
                                                        Qt::QueuedConnection);
                                                });
            break;
        case HudPresence::Action::hide:
            m_hud->hide();
            break;
        }
    }

    // After the views have re-rendered for this change.
    if (!m_relayoutQueued) {
        m_relayoutQueued = true;
        QMetaObject::invokeMethod(this, &AppDelegate::relayout, Qt::QueuedConnection);
    }
}

const QIcon& AppDelegate::trayIcon(const QColor& tint) {
    // Made once per colour: Qt caches what it renders of an icon under that icon's own
    // key, so a fresh icon for every change of state left each dictation's renderings
    // in the pixmap cache until it reached its 10 MB limit.
    auto [entry, made] = m_trayIcons.try_emplace(tint.rgba());
    if (made)
        entry->second = TrayGlyph::icon(tint);
    return entry->second;
}

void AppDelegate::showHud() {
    m_hud->show();
    m_hud->raise();
}

void AppDelegate::placeHud() {
    if (QScreen* screen = screenForHud())
        m_hud->move(HudPresence::origin(screen->availableGeometry(), m_hud->size()));
}

void AppDelegate::relayout() {
    m_relayoutQueued = false;
    if (m_panel) {
        fitPanel();
        if (m_panel->isVisible())
            placePanel();
    }
    if (m_hud) {
        m_hud->adjustSize();
        if (m_hud->isVisible())
            placeHud();
    }
}

void AppDelegate::fitPanel() {
    const int height = m_panel->heightForWidth(PanelContent::panelWidth);
    m_panel->resize(PanelContent::panelWidth, height > 0 ? height : m_panel->sizeHint().height());
}

void AppDelegate::placePanel() {
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    const QPoint anchor = icon.isValid() ? icon.center() : QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QSize size = m_panel->size();
    QPoint origin(anchor.x() - size.width() / 2, icon.isValid() ? icon.bottom() + 1 : anchor.y());
    // A tray at the bottom of the screen: the panel rises above the icon instead.
    if (icon.isValid() && available.isValid() && icon.center().y() > available.center().y())
        origin.setY(icon.top() - size.height());
    if (available.isValid()) {
        origin.setX(std::clamp(origin.x(), available.left(),
                               std::max(available.left(), available.right() + 1 - size.width())));
        origin.setY(std::clamp(origin.y(), available.top(),
                               std::max(available.top(), available.bottom() + 1 - size.height())));
    }
    m_panel->move(origin);
}

void AppDelegate::togglePanel() {
    if (!m_panel)
        return;
    // A click on the tray icon first takes the focus from an open panel, which hides
    // it; that click closes the panel rather than opening it again.
    const bool justClosed = m_panelClosed.isValid() && m_panelClosed.elapsed() < reopenGuardMs;
    if (m_panel->isVisible() || justClosed) {
        m_panel->hide();
        m_panelClosed.invalidate();
        return;
    }
    m_model->refreshPermissions();
    fitPanel();
    placePanel();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void AppDelegate::settings() {
    if (m_panel)
        m_panel->hide();
    if (!m_window) {
        m_ownedWindow =
            std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint |
                                                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        m_window = m_ownedWindow.get();
        m_window->setWindowTitle(settingsTitle);
        host(m_window, new SettingsView(*m_model));
        // Wrapped texts need their height for the window's width; a larger font
        // than the design's makes the window taller rather than cutting them off.
        const int height = m_window->heightForWidth(settingsSize.width());
        m_window->resize(settingsSize.width(), std::max(settingsSize.height(), height));
        if (QScreen* screen = QGuiApplication::primaryScreen())
            m_window->move(screen->availableGeometry().center() - m_window->rect().center());
        m_window->installEventFilter(this);
        new QShortcut(QKeySequence::Quit, m_window, this, &AppDelegate::quit);
    }
    m_model->refreshPermissions();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (!m_options.preview)
        m_model->startPermissionMonitoring();
}

void AppDelegate::setWindow(QWidget* window) {
    if (m_window == window)
        return;
    if (m_ownedWindow.get() != window)
        m_ownedWindow.reset(window);
    m_window = window;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_panel.get() && event->type() == QEvent::WindowDeactivate &&
        m_panel->isVisible()) {
        m_panel->hide();
        m_panelClosed.start();
    }
    // Closing hides the settings window, which is kept for the next opening.
    if (watched == m_window && event->type() == QEvent::Close)
        m_model->stopPermissionMonitoring();
    return QObject::eventFilter(watched, event);
}

bool AppDelegate::applicationShouldTerminate() {
    if (m_options.preview || m_model->shutdown()) {
        if (m_service)
            m_service->stop();
        return true;
    }
    settings();
    if (!m_alert) {
        m_alert = new QMessageBox(QMessageBox::Warning, productName, restoreFirst,
                                  QMessageBox::NoButton, m_window);
        m_alert->setInformativeText(restoreFirstDetail);
        m_alert->addButton(keepOpen, QMessageBox::AcceptRole);
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
    }
    // Window-modal, so the application keeps running its events while it shows.
    m_alert->open();
    return false;
}

void AppDelegate::quit() {
    if (applicationShouldTerminate())
        QCoreApplication::quit();
}

bool AppDelegate::shutdownNow() {
    if (!m_model->shutdown())
        return false;
    if (m_service)
        m_service->stop();
    return true;
}

void AppDelegate::reopen(bool showSettings) {
    if (showSettings)
        settings();
    else
        togglePanel();
}
