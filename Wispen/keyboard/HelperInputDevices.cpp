#include "HelperInputDevices.h"

#include "HIDUsages.h"

namespace {

// Long enough for the first answer to wait on a polkit password dialog.
constexpr int answerTimeoutMs = 120000;

InputDevice::Status statusOf(const QString& answer) {
    if (answer == QLatin1String("unmapped"))
        return InputDevice::Status::unmapped;
    if (answer == QLatin1String("gone"))
        return InputDevice::Status::gone;
    return answer.startsWith(QLatin1String("ok")) ? InputDevice::Status::ok
                                                  : InputDevice::Status::failed;
}

class HelperDevice final : public InputDevice {
public:
    HelperDevice(HelperInputDevices& helper, quint32 number, QString owner)
        : m_helper(helper)
        , m_number(number)
        , m_owner(std::move(owner)) {}

    std::optional<quint32> inputNumber() const override { return m_number; }
    QString keymapOwner() const override { return m_owner; }
    // The helper lists keyboards and consumer controls only, which the store treats
    // alike; each stands here as a keyboard.
    bool hasKey(unsigned keyCode) const override { return HIDUsages::isLetterKey(keyCode); }
    bool hidKeymap() const override { return true; }

    Status keyCode(quint32 scancode, unsigned& keyCode) override {
        const QString answer = m_helper.ask(QStringLiteral("get %1 %2").arg(m_number).arg(scancode))
                                   .value_or(QString());
        const Status status = statusOf(answer);
        bool ok = false;
        keyCode = answer.mid(3).toUInt(&ok);
        return status == Status::ok && !ok ? Status::failed : status;
    }

    Status setKeyCode(quint32 scancode, unsigned keyCode) override {
        return statusOf(
            m_helper.ask(QStringLiteral("set %1 %2 %3").arg(m_number).arg(scancode).arg(keyCode))
                .value_or(QString()));
    }

private:
    HelperInputDevices& m_helper;
    quint32 m_number;
    QString m_owner;
};

} // namespace

HelperInputDevices::HelperInputDevices()
    : HelperInputDevices(QStringLiteral("pkexec"), {QStringLiteral(WISPEN_KEYMAP_HELPER_PATH)}) {}

HelperInputDevices::HelperInputDevices(QString program, QStringList arguments)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments)) {
    // pkexec explains a refusal on its error output; the refusal itself is the answer.
    m_process.setStandardErrorFile(QProcess::nullDevice());
}

HelperInputDevices::~HelperInputDevices() {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(1000))
        m_process.kill();
}

std::optional<QString> HelperInputDevices::ask(const QString& request) {
    // A helper that answered before may have ended for being idle; it is asked once
    // more, a helper that never answered (refused by polkit) is not.
    for (bool again = true; again;) {
        again = false;
        if (m_process.state() == QProcess::NotRunning) {
            m_answered = false;
            m_process.start(m_program, m_arguments);
            if (!m_process.waitForStarted())
                return std::nullopt;
        }
        m_process.write(request.toUtf8() + '\n');
        while (!m_process.canReadLine() && m_process.waitForReadyRead(answerTimeoutMs)) {
        }
        if (m_process.canReadLine()) {
            m_answered = true;
            return QString::fromUtf8(m_process.readLine()).trimmed();
        }
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
            return std::nullopt;
        }
        again = m_answered;
        m_answered = false;
    }
    return std::nullopt;
}

std::optional<QStringList> HelperInputDevices::nodes() {
    const QString answer = ask(QStringLiteral("list")).value_or(QString());
    QStringList words = answer.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.value(0) != QLatin1String("ok"))
        return std::nullopt;
    words.removeFirst();
    m_listed.clear();
    QStringList nodes;
    for (const QString& word : words) {
        const QStringList fields = word.split(QLatin1Char(','));
        bool ok = false;
        const quint32 number = fields.value(0).toUInt(&ok);
        if (fields.size() != 2 || !ok)
            return std::nullopt;
        m_listed[number] = QStringLiteral("keymap of %1").arg(fields[1]);
        nodes.append(QString::number(number));
    }
    return nodes;
}

std::unique_ptr<InputDevice> HelperInputDevices::open(const QString& node, OpenFailure& failure) {
    const auto found = m_listed.find(node.toUInt());
    failure = found == m_listed.end() ? OpenFailure::gone : OpenFailure::none;
    if (found == m_listed.end())
        return nullptr;
    return std::make_unique<HelperDevice>(*this, found->first, found->second);
}
