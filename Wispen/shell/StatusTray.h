#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class ReradazIzavo;

// The application's place in the system tray: an icon tinted by the dictation's
// phase, the status and detail as its tooltip, and a menu with the commands that
// apply now. It keeps no state of its own and re-renders whenever the model changes.
class StatusTray final : public QObject {
    Q_OBJECT
public:
    StatusTray(ReradazIzavo& model, QObject* parent = nullptr);

    // Whether the desktop has a tray to show the icon in.
    static bool available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

    // Opens the menu at the pointer: what a second launch of the application shows.
    void reopen();

signals:
    void quitRequested();

private:
    void refresh();
    static QIcon iconFor(int phase);

    ReradazIzavo& m_model;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction* m_status = nullptr;
    QAction* m_record = nullptr;
    QAction* m_cancel = nullptr;
    QAction* m_retry = nullptr;
    QAction* m_copyLast = nullptr;
    QAction* m_holdToTalk = nullptr;
    QAction* m_autoPaste = nullptr;
};
