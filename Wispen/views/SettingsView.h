#pragma once

#include <QWidget>

class ActionButton;
class QLabel;
class ReradazIzavo;
class SwitchControl;

// The settings window's content: the brand header with a reminder of how the
// shortcut behaves, the four switches, the Accessibility hint with its "Allow…"
// button, the model's detail when it needs attention, and the privacy footer. It
// keeps no state: every switch shows what the model holds and asks the model to
// change it; nothing can be changed while a dictation is under way.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(ReradazIzavo& model, QWidget* parent = nullptr);

    static constexpr int viewWidth = 420;

protected:
    void changeEvent(QEvent* event) override;

private:
    void render();
    SwitchControl* addSetting(const QString& title, const QString& identifier,
                              const QString& tooltip);

    ReradazIzavo& m_model;
    QWidget* m_rows;
    QLabel* m_reminder;
    SwitchControl* m_holdToTalk;
    SwitchControl* m_autoPaste;
    QWidget* m_accessibility;
    QLabel* m_reopen;
    SwitchControl* m_microphone;
    SwitchControl* m_login;
    QLabel* m_detail;
};
