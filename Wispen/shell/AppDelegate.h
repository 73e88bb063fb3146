#pragma once

#include "HudPresence.h"
#include "ReradazIzavo.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>

class BundledService;
class PanelContent;
class QMenu;
class QSystemTrayIcon;
class UserDefaults;

// Owns everything the user sees around the views: the tray icon, the panel that
// drops from it, the settings window and the floating recording HUD. It creates
// the controller, keeps the tray and the HUD in step with it, starts the bundled
// service when a dictation needs it, and refuses to quit while the keyboard is
// still remapped. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Renders sample states for inspection: nothing is started or stored.
        bool preview = false;
        // Opens the settings window instead of the first-launch panel.
        bool showSettings = false;
    };

    // `collaborators` and `defaults` are the controller's; empty ones get the
    // Linux defaults. `service` may be null (nothing is started on demand).
    AppDelegate(Options options, ReradazIzavo::Collaborators collaborators,
                std::shared_ptr<UserDefaults> defaults, std::unique_ptr<BundledService> service,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds the windows and, unless previewing, starts the controller and opens the
    // panel on the very first launch (or the settings window when asked to).
    void launch();

    // Brings the tray icon and the HUD up to date; runs after every change of the model.
    void refresh();
    // Opens the panel below the tray icon, or closes it.
    void togglePanel();
    // Opens the settings window, made on first use and reused afterwards.
    void settings();
    // Whether the application may end now; when the keyboard cannot be restored it
    // opens the settings window with an alert that says why, and answers false.
    bool applicationShouldTerminate();
    // Quit from the panel, the tray menu or Ctrl+Q: ends the event loop when allowed.
    void quit();
    // A second launch of the application asked us to show ourselves.
    void reopen(bool showSettings);
    // Ends without asking, for logout and signals; false when the keyboard could not
    // be restored.
    bool shutdownNow();

    ReradazIzavo& model() { return *m_model; }
    QWidget* panel() const { return m_panel.get(); }
    QWidget* hud() const { return m_hud.get(); }
    // The settings window, or the preview's fixture window.
    QWidget* window() const { return m_window; }
    void setWindow(QWidget* window);
    PanelContent* panelContent() const { return m_panelContent; }
    QSystemTrayIcon* trayIcon() const { return m_tray.get(); }
    QMessageBox* alert() const { return m_alert; }

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    const QIcon& trayIcon(const QColor& tint);
    void showHud();
    void placeHud();
    void relayout();
    void fitPanel();
    void placePanel();

    Options m_options;
    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<TimerSource> m_timers;
    std::unique_ptr<BundledService> m_service;
    std::unique_ptr<ReradazIzavo> m_model;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    // The tray glyph in each colour it has shown, by RGBA value.
    std::map<QRgb, QIcon> m_trayIcons;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QWidget> m_panel;
    PanelContent* m_panelContent = nullptr;
    std::unique_ptr<QWidget> m_hud;
    QPointer<QWidget> m_window;
    std::unique_ptr<QWidget> m_ownedWindow;
    QPointer<QMessageBox> m_alert;
    HudPresence m_presence;
    std::unique_ptr<TimerSource::Handle> m_linger;
    bool m_relayoutQueued = false;
    // Runs once the application has been idle a moment after a dictation.
    QTimer m_returnMemory;
    // When the panel last hid because it lost the focus.
    QElapsedTimer m_panelClosed;
    static constexpr qint64 reopenGuardMs = 300;
};
