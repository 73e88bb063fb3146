#pragma once

#include "Recogniser.h"
#include "TranscriptionContract.h"

#include <QUrl>

#include <string>

// Recognises speech by handing the recording, as it arrived, to an existing
// OpenAI-compatible speech-to-text server (POST /v1/audio/transcriptions,
// multipart with the file and a model name), so a user with a better engine
// elsewhere can use it through the same application.
class ForwardingRecogniser final : public Recogniser {
public:
    static constexpr const char* transcriptionsPath = "/v1/audio/transcriptions";
    static constexpr const char* apiKeyVariable = "WISPEN_FORWARD_API_KEY";
    static constexpr int connectTimeoutMs = 10000;
    // The longest reply taken from the speech server, as the application takes from us.
    static constexpr std::size_t maximumReplyBytes = TranscriptionContract::maximumReplyBytes;

    // Checks the base URL as the application checks its service address; throws
    // std::invalid_argument with a sentence when it is malformed or would send audio
    // unencrypted off this machine.
    ForwardingRecogniser(const std::string& baseUrl, const std::string& model);

    bool available() const override { return true; }
    std::string problem() const override { return {}; }
    std::string recognise(const Recording& recording, Deadline deadline) override;
    std::string privacyNote() const override;
    std::string engine() const override { return "forward"; }

private:
    std::string originText() const; // scheme://host[:port]

    QUrl m_origin;
    std::string m_path; // the base URL's path followed by transcriptionsPath
    std::string m_model;
    std::string m_apiKey;
};
