#pragma once

#include <QWidget>
#include <functional>

class ActionButton;
class BusyIndicator;
class QLabel;
class ReradazIzavo;

// The tray panel: brand and status, the recording time, the detail line, one
// primary action that follows the dictation's phase, an optional secondary action,
// and the Settings and Quit footer. It keeps no state: it re-renders from the
// model on every change and its buttons call the model's commands or the host's
// two closures.
class PanelContent final : public QWidget {
    Q_OBJECT
public:
    PanelContent(ReradazIzavo& model, std::function<void()> settings, std::function<void()> quit,
                 QWidget* parent = nullptr);

    static constexpr int panelWidth = 316;

protected:
    void changeEvent(QEvent* event) override;

private:
    void render();
    void primaryPressed();
    void secondaryPressed();

    ReradazIzavo& m_model;
    std::function<void()> m_settings;
    std::function<void()> m_quit;
    QLabel* m_status;
    QLabel* m_timer;
    QLabel* m_detail;
    BusyIndicator* m_progress;
    QLabel* m_permission;
    ActionButton* m_primary;
    ActionButton* m_secondary;
    ActionButton* m_copyLast;
};
