#include "PanelContent.h"

#include "ActionButton.h"
#include "BusyIndicator.h"
#include "ElapsedTime.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "ViewStyle.h"
#include "ViewText.h"
#include "WispenBlue.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using Phase = ReradazIzavo::Phase;

namespace {

QFont smallText() {
    return ViewStyle::font(12);
}

ActionButton* plainButton(const QString& title, bool secondary, const QString& identifier,
                          QWidget* parent) {
    auto* button = new ActionButton(ActionButton::Style::plain, smallText(), parent);
    button->setTitle(title);
    if (secondary)
        ViewStyle::makeSecondary(button);
    if (!identifier.isEmpty())
        ViewStyle::identify(button, identifier);
    return button;
}

} // namespace

PanelContent::PanelContent(ReradazIzavo& model, std::function<void()> settings,
                           std::function<void()> quit, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_settings(std::move(settings))
    , m_quit(std::move(quit)) {
    setFixedWidth(panelWidth);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 16, 16, 16);
    root->setSpacing(14);

    m_status = ViewStyle::label({}, smallText(), true, QStringLiteral("dictation-status"), this);
    QHBoxLayout* header = ViewStyle::brandHeader(this, 32, 10, 15, 2, m_status);
    m_timer =
        ViewStyle::label({}, ViewStyle::monospaced(12), true, QStringLiteral("elapsed-time"), this);
    header->addWidget(m_timer, 0, Qt::AlignVCenter);
    root->addLayout(header);

    m_detail = ViewStyle::label({}, smallText(), true, QStringLiteral("dictation-detail"), this);
    m_detail->setWordWrap(true);
    root->addWidget(m_detail);

    m_progress = new BusyIndicator(BusyIndicator::Shape::bar, this);
    m_progress->setTint(wispenBlue());
    m_progress->setAccessibleName(ViewText::transcribingBar);
    ViewStyle::identify(m_progress, QStringLiteral("transcribing-progress"));
    root->addWidget(m_progress);
    m_permission = ViewStyle::label(ViewText::choosePermission, smallText(), true,
                                    QStringLiteral("permission-prompt"), this);
    m_permission->setWordWrap(true);
    root->addWidget(m_permission);
    m_primary = new ActionButton(ActionButton::Style::prominent, ViewStyle::font(13), this);
    ViewStyle::identify(m_primary, QStringLiteral("record-action"));
    connect(m_primary, &QAbstractButton::clicked, this, &PanelContent::primaryPressed);
    root->addWidget(m_primary);

    m_secondary = plainButton({}, true, QStringLiteral("secondary-action"), this);
    connect(m_secondary, &QAbstractButton::clicked, this, &PanelContent::secondaryPressed);
    root->addWidget(m_secondary, 0, Qt::AlignLeft);
    m_copyLast = plainButton(ViewText::copyLast, false, QStringLiteral("copy-last"), this);
    m_copyLast->setSymbol(QStringLiteral("doc.on.clipboard"));
    connect(m_copyLast, &QAbstractButton::clicked, this, [this] { m_model.copyLast(); });
    root->addWidget(m_copyLast, 0, Qt::AlignLeft);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setObjectName(QStringLiteral("divider"));
    ViewStyle::makeSecondary(divider);
    root->addWidget(divider);

    auto* footer = new QHBoxLayout;
    auto* settingsButton =
        plainButton(ViewText::settings, true, QStringLiteral("open-settings"), this);
    connect(settingsButton, &QAbstractButton::clicked, this, [this] {
        if (m_settings)
            m_settings();
    });
    auto* quitButton = plainButton(ViewText::quit, true, QStringLiteral("quit-app"), this);
    connect(quitButton, &QAbstractButton::clicked, this, [this] {
        if (m_quit)
            m_quit();
    });
    footer->addWidget(settingsButton);
    footer->addStretch(1);
    footer->addWidget(quitButton);
    root->addLayout(footer);

    for (const auto signal :
         {&ReradazIzavo::statusChanged, &ReradazIzavo::detailChanged, &ReradazIzavo::phaseChanged,
          &ReradazIzavo::secondsChanged, &ReradazIzavo::lastTranscriptChanged,
          &ReradazIzavo::pasteHintChanged})
        connect(&m_model, signal, this, &PanelContent::render);
    render();
}

void PanelContent::render() {
    const Phase phase = m_model.phase();
    const QString status = m_model.status();
    m_status->setText(status);

    m_timer->setVisible(phase == Phase::recording);
    m_timer->setText(ElapsedTime::text(m_model.seconds()));

    const bool detailShown = phase == Phase::failed || status == StatusText::needsAttention ||
                             status == StatusText::microphoneAccessNeeded ||
                             (status == StatusText::copied && m_model.pasteHint().has_value());
    m_detail->setText(m_model.detail());
    m_detail->setVisible(detailShown);

    m_progress->setVisible(phase == Phase::transcribing);
    m_permission->setVisible(phase == Phase::requestingPermission);
    m_primary->setVisible(phase == Phase::idle || phase == Phase::recording ||
                          phase == Phase::failed);
    m_primary->setSymbol(phase == Phase::recording ? QStringLiteral("stop.fill")
                                                   : QStringLiteral("mic.fill"));
    m_primary->setTitle(phase == Phase::recording ? ViewText::stopAndTranscribe
                        : phase == Phase::failed  ? ViewText::retryTranscription
                                                  : ViewText::record);
    m_primary->setHint(phase == Phase::idle ? ViewText::shortcut : QString(),
                       ViewStyle::font(11, QFont::Medium));

    const bool busy = phase == Phase::transcribing || phase == Phase::requestingPermission;
    m_secondary->setVisible(phase != Phase::idle);
    m_secondary->setTitle(busy ? ViewText::cancel : ViewText::discardRecording);
    m_copyLast->setVisible(phase == Phase::idle && !m_model.lastTranscript().isEmpty());
}

void PanelContent::primaryPressed() {
    if (m_model.phase() == Phase::failed)
        m_model.retry();
    else
        m_model.toggle();
}

void PanelContent::secondaryPressed() {
    m_model.cancel();
}

void PanelContent::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        ViewStyle::refreshSecondary(this);
    QWidget::changeEvent(event);
}
