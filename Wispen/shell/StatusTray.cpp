#include "StatusTray.h"

#include "ReradazIzavo.h"

#include <QAction>
#include <QCursor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int iconSizePx = 64;

QColor tintFor(RecordingSession::Phase phase) {
    switch (phase) {
    case RecordingSession::Phase::recording:
        return QColor(0xd9, 0x30, 0x25);
    case RecordingSession::Phase::requestingPermission:
    case RecordingSession::Phase::transcribing:
        return QColor(0x1f, 0x6f, 0xeb);
    case RecordingSession::Phase::failed:
        return QColor(0xe0, 0x8a, 0x00);
    case RecordingSession::Phase::idle:
        break;
    }
    return QColor(0x5f, 0x63, 0x68);
}

} // namespace

StatusTray::StatusTray(ReradazIzavo& model, QObject* parent)
    : QObject(parent)
    , m_model(model) {
    m_status = m_menu.addAction(QString());
    m_status->setEnabled(false);
    m_menu.addSeparator();
    m_record = m_menu.addAction(QString(), &m_model, &ReradazIzavo::toggle);
    m_cancel = m_menu.addAction(QStringLiteral("Cancel"), &m_model, &ReradazIzavo::cancel);
    m_retry =
        m_menu.addAction(QStringLiteral("Retry transcription"), &m_model, &ReradazIzavo::retry);
    m_copyLast =
        m_menu.addAction(QStringLiteral("Copy last text"), &m_model, &ReradazIzavo::copyLast);
    m_menu.addSeparator();
    m_holdToTalk = m_menu.addAction(QStringLiteral("Hold to talk"));
    m_holdToTalk->setCheckable(true);
    connect(m_holdToTalk, &QAction::toggled, &m_model, &ReradazIzavo::setHoldToTalk);
    m_autoPaste = m_menu.addAction(QStringLiteral("Paste automatically"));
    m_autoPaste->setCheckable(true);
    connect(m_autoPaste, &QAction::toggled, &m_model, &ReradazIzavo::setAutoPaste);
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Quit Wispen Rezuraz"), this, &StatusTray::quitRequested);

    m_icon.setContextMenu(&m_menu);
    // Without the panel, a click on the icon shows the same menu as a right click.
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::Trigger)
                    m_menu.popup(m_icon.geometry().isValid() ? m_icon.geometry().bottomLeft()
                                                             : QCursor::pos());
            });

    for (auto signal : {&ReradazIzavo::statusChanged, &ReradazIzavo::detailChanged,
                        &ReradazIzavo::phaseChanged, &ReradazIzavo::lastTranscriptChanged,
                        &ReradazIzavo::holdToTalkChanged, &ReradazIzavo::autoPasteChanged})
        connect(&m_model, signal, this, &StatusTray::refresh);
    refresh();
    m_icon.show();
}

void StatusTray::refresh() {
    const auto phase = m_model.phase();
    m_icon.setIcon(iconFor(m_model.phaseValue()));
    m_icon.setToolTip(m_model.status() + QLatin1Char('\n') + m_model.detail());
    m_status->setText(m_model.status());

    const bool recording = phase == RecordingSession::Phase::recording;
    m_record->setText(recording ? QStringLiteral("Stop and transcribe") : QStringLiteral("Record"));
    m_record->setEnabled(phase == RecordingSession::Phase::idle ||
                         phase == RecordingSession::Phase::failed || recording);
    m_cancel->setEnabled(phase != RecordingSession::Phase::idle);
    m_retry->setEnabled(phase == RecordingSession::Phase::failed);
    m_copyLast->setEnabled(!m_model.lastTranscript().isEmpty());

    const QSignalBlocker holdBlocker(m_holdToTalk);
    m_holdToTalk->setChecked(m_model.holdToTalk());
    const QSignalBlocker pasteBlocker(m_autoPaste);
    m_autoPaste->setChecked(m_model.autoPaste());
}

void StatusTray::reopen() {
    m_menu.popup(QCursor::pos());
}

QIcon StatusTray::iconFor(int phase) {
    QPixmap pixmap(iconSizePx, iconSizePx);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(tintFor(static_cast<RecordingSession::Phase>(phase)));
    p.drawEllipse(QRectF(2, 2, iconSizePx - 4, iconSizePx - 4));

    // A microphone: capsule, cradle and stand, in white.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(24, 12, 16, 26), 8, 8);
    QPen pen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath cradle;
    cradle.moveTo(18, 30);
    cradle.cubicTo(18, 48, 46, 48, 46, 30);
    p.drawPath(cradle);
    p.drawLine(QPointF(32, 44), QPointF(32, 52));
    p.drawLine(QPointF(24, 52), QPointF(40, 52));
    return QIcon(pixmap);
}
