#include "RecordingHUD.h"

#include "ActionButton.h"
#include "BusyIndicator.h"
#include "CompositingWatch.h"
#include "ElapsedTime.h"
#include "HUDCapsule.h"
#include "LevelMeter.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "Symbol.h"
#include "ViewStyle.h"
#include "ViewText.h"
#include "WispenBlue.h"

#include <QHBoxLayout>
#include <QLabel>

using Phase = ReradazIzavo::Phase;

namespace {

QString outcomeSymbol(const QString& status) {
    if (status == StatusText::copied || status == StatusText::pasteSent)
        return QStringLiteral("checkmark");
    if (status == StatusText::keepHolding || status == StatusText::tooShort)
        return QStringLiteral("mic");
    return QStringLiteral("exclamationmark.circle");
}

} // namespace

RecordingHUD::RecordingHUD(ReradazIzavo& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_capsule(new HUDCapsule(this)) {
    const QFont font = ViewStyle::font(12, QFont::Medium);
    setFont(font);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(m_capsule);

    auto* row = new QHBoxLayout(m_capsule);
    row->setContentsMargins(14, 12, 14, 12);
    row->setSpacing(10);
    m_symbol = new SymbolImage({}, 16, m_capsule);
    m_symbol->setTint(wispenBlue());
    ViewStyle::identify(m_symbol, QStringLiteral("hud-symbol"));
    row->addWidget(m_symbol);
    m_timer = ViewStyle::label({}, ViewStyle::font(12, QFont::Medium, true), false,
                               QStringLiteral("hud-time"), m_capsule);
    row->addWidget(m_timer);
    m_meter = new LevelMeter(m_capsule);
    ViewStyle::identify(m_meter, QStringLiteral("hud-level"));
    row->addWidget(m_meter);
    m_spinner = new BusyIndicator(BusyIndicator::Shape::spinner, m_capsule);
    ViewStyle::identify(m_spinner, QStringLiteral("hud-spinner"));
    row->addWidget(m_spinner);
    m_text = ViewStyle::label({}, font, false, QStringLiteral("hud-text"), m_capsule);
    row->addWidget(m_text);
    m_stop = new ActionButton(ActionButton::Style::plain, font, m_capsule);
    ViewStyle::identify(m_stop, QStringLiteral("hud-stop"));
    connect(m_stop, &QAbstractButton::clicked, this, &RecordingHUD::stopPressed);
    row->addWidget(m_stop);

    for (const auto signal :
         {&ReradazIzavo::phaseChanged, &ReradazIzavo::secondsChanged, &ReradazIzavo::statusChanged})
        connect(&m_model, signal, this, &RecordingHUD::render);
    // The level reaches the meter and nothing else, ten times a second.
    connect(&m_model, &ReradazIzavo::levelChanged, m_meter,
            [this] { m_meter->setLevel(m_model.level()); });

    CompositingWatch& compositing = CompositingWatch::instance();
    setTranslucent(compositing.running());
    connect(&compositing, &CompositingWatch::runningChanged, this,
            [this, &compositing] { setTranslucent(compositing.running()); });
    render();
}

void RecordingHUD::setTranslucent(bool translucent) {
    m_capsule->setTranslucent(translucent);
}

void RecordingHUD::render() {
    const Phase phase = m_model.phase();
    const bool recording = phase == Phase::recording;
    const bool busy = phase == Phase::transcribing || phase == Phase::requestingPermission;

    m_symbol->setVisible(!busy);
    m_symbol->setSymbol(recording ? QStringLiteral("mic.fill") : outcomeSymbol(m_model.status()));
    m_timer->setVisible(recording);
    m_timer->setText(ElapsedTime::text(m_model.seconds()));
    m_meter->setVisible(recording);
    m_meter->setLevel(m_model.level());
    m_spinner->setVisible(busy);
    m_text->setVisible(!recording);
    m_text->setText(phase == Phase::requestingPermission ? ViewText::allowMicrophone
                    : phase == Phase::transcribing       ? ViewText::transcribing
                                                         : m_model.status());
    m_stop->setVisible(recording || busy);
    m_stop->setSymbol(recording ? QStringLiteral("stop.fill") : QStringLiteral("xmark"));
    const QString action = recording ? ViewText::stopAndTranscribe : ViewText::cancel;
    m_stop->setToolTip(action);
    m_stop->setAccessibleName(action);
}

void RecordingHUD::stopPressed() {
    if (m_model.phase() == Phase::recording)
        m_model.toggle();
    else
        m_model.cancel();
}
