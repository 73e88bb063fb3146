#include "SettingsView.h"

#include "ActionButton.h"
#include "ReradazIzavo.h"
#include "ServiceAddress.h"
#include "StatusText.h"
#include "SwitchControl.h"
#include "ViewStyle.h"
#include "ViewText.h"
#include "WispenBlue.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

using Phase = ReradazIzavo::Phase;

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    ViewStyle::makeSecondary(line);
    return line;
}

// The privacy page of the service that receives the recordings.
QUrl privacyPage() {
    QUrl url = ServiceAddress::baseUrl();
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("privacy"));
    return url;
}

} // namespace

SettingsView::SettingsView(ReradazIzavo& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    setFixedWidth(viewWidth);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(24, 24, 24, 24);
    root->setSpacing(20);

    m_reminder =
        ViewStyle::label({}, ViewStyle::font(12), true, QStringLiteral("shortcut-reminder"), this);
    root->addLayout(ViewStyle::brandHeader(this, 44, 12, 20, 4, m_reminder));

    m_rows = new QWidget(this);
    m_rows->setFont(ViewStyle::font(13));
    auto* rows = new QVBoxLayout(m_rows);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(16);
    root->addWidget(m_rows);

    m_holdToTalk =
        addSetting(ViewText::holdToTalk, QStringLiteral("hold-to-talk"), ViewText::holdToTalkTip);
    connect(m_holdToTalk, &SwitchControl::requested, this,
            [this](bool on) { m_model.setHoldToTalk(on); });
    m_autoPaste =
        addSetting(ViewText::autoPaste, QStringLiteral("auto-paste"), ViewText::autoPasteTip);
    connect(m_autoPaste, &SwitchControl::requested, this,
            [this](bool on) { m_model.setAutoPaste(on); });

    m_accessibility = new QWidget(m_rows);
    auto* hint = new QHBoxLayout(m_accessibility);
    hint->setContentsMargins(0, 0, 0, 0);
    hint->setSpacing(12);
    QLabel* hintText = ViewStyle::label(ViewText::accessibilityHint, ViewStyle::font(11), true,
                                        QStringLiteral("accessibility-hint"), m_accessibility);
    hintText->setWordWrap(true);
    hint->addWidget(hintText, 1, Qt::AlignTop);
    // The standard button in the small control size.
    auto* allow = new QPushButton(ViewText::allow, m_accessibility);
    allow->setFont(ViewStyle::font(11));
    ViewStyle::identify(allow, QStringLiteral("allow-accessibility"));
    connect(allow, &QAbstractButton::clicked, this, [this] { m_model.requestAccessibility(); });
    hint->addWidget(allow, 0, Qt::AlignTop);
    rows->addWidget(m_accessibility);
    m_reopen = ViewStyle::label(ViewText::accessibilityReopen, ViewStyle::font(11), true,
                                QStringLiteral("accessibility-reopen"), m_rows);
    m_reopen->setWordWrap(true);
    rows->addWidget(m_reopen);
    rows->addWidget(divider(m_rows));

    m_microphone = addSetting(ViewText::microphoneKey, QStringLiteral("microphone-key"),
                              ViewText::microphoneKeyTip);
    connect(m_microphone, &SwitchControl::requested, this,
            [this](bool on) { m_model.setMicrophone(on); });
    m_login = addSetting(ViewText::openAtLogin, QStringLiteral("open-at-login"), {});
    connect(m_login, &SwitchControl::requested, this,
            [this](bool on) { m_model.setLaunchAtLogin(on); });

    m_detail =
        ViewStyle::label({}, ViewStyle::font(12), true, QStringLiteral("settings-detail"), this);
    m_detail->setWordWrap(true);
    root->addWidget(m_detail);
    root->addWidget(divider(this));

    auto* footer = new QHBoxLayout;
    footer->setSpacing(6);
    footer->addWidget(ViewStyle::label(ViewText::privacyNote, ViewStyle::font(11), true, {}, this));
    footer->addStretch(1);
    auto* link = new ActionButton(ActionButton::Style::plain, ViewStyle::font(11), this);
    link->setTitle(ViewText::privacy);
    link->setForeground(wispenBlue());
    ViewStyle::identify(link, QStringLiteral("privacy-link"));
    connect(link, &QAbstractButton::clicked, this,
            [] { QDesktopServices::openUrl(privacyPage()); });
    footer->addWidget(link);
    root->addLayout(footer);

    for (const auto signal :
         {&ReradazIzavo::holdToTalkChanged, &ReradazIzavo::autoPasteChanged,
          &ReradazIzavo::microphoneEnabledChanged, &ReradazIzavo::launchAtLoginChanged,
          &ReradazIzavo::accessibilityGrantedChanged, &ReradazIzavo::phaseChanged,
          &ReradazIzavo::statusChanged, &ReradazIzavo::detailChanged})
        connect(&m_model, signal, this, &SettingsView::render);
    render();
}

SwitchControl* SettingsView::addSetting(const QString& title, const QString& identifier,
                                        const QString& tooltip) {
    auto* row = new QWidget(m_rows);
    row->setToolTip(tooltip);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    QLabel* label = ViewStyle::label(title, ViewStyle::font(13), false, {}, row);
    layout->addWidget(label, 1);
    auto* control = new SwitchControl(title, row);
    ViewStyle::identify(control, identifier);
    layout->addWidget(control, 0, Qt::AlignVCenter);
    m_rows->layout()->addWidget(row);
    return control;
}

void SettingsView::render() {
    const Phase phase = m_model.phase();
    m_reminder->setText(m_model.holdToTalk() ? ViewText::holdReminder : ViewText::pressReminder);
    m_rows->setEnabled(phase == Phase::idle || phase == Phase::failed);
    m_holdToTalk->setChecked(m_model.holdToTalk());
    m_autoPaste->setChecked(m_model.autoPaste());
    m_microphone->setChecked(m_model.microphoneEnabled());
    m_login->setChecked(m_model.launchAtLogin());
    const bool hint = m_model.autoPaste() && !m_model.accessibilityGranted();
    m_accessibility->setVisible(hint);
    m_reopen->setVisible(hint);
    m_detail->setText(m_model.detail());
    m_detail->setVisible(m_model.status() == StatusText::needsAttention);
}

void SettingsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        ViewStyle::refreshSecondary(this);
    QWidget::changeEvent(event);
}
