#include "ScriptedCapture.h"

namespace {

class ScriptedField final : public CapturedField {
public:
    explicit ScriptedField(std::shared_ptr<CaptureScript> script)
        : m_script(std::move(script)) {}
    bool paste(std::optional<QString>& failure) override {
        ++m_script->pastes;
        if (m_script->pasteSucceeds)
            return true;
        if (m_script->pasteFailure)
            failure = m_script->pasteFailure;
        return false;
    }

private:
    std::shared_ptr<CaptureScript> m_script;
};

} // namespace

PasteTargetCapture scriptedCapture(std::shared_ptr<CaptureScript> script) {
    return [script](std::optional<QString>& failure) -> std::unique_ptr<CapturedField> {
        ++script->captures;
        if (script->findsField)
            return std::make_unique<ScriptedField>(script);
        failure = script->captureFailure;
        return nullptr;
    };
}
