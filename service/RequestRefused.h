#pragma once

#include <stdexcept>
#include <string>

// Ends a request with an HTTP status other than 200. The reason is a sentence for
// people reading the raw reply; the application reads only the status.
class RequestRefused : public std::runtime_error {
public:
    enum Status {
        badRequest = 400,
        notFound = 404,
        lengthRequired = 411,
        tooLarge = 413,
        unprocessable = 422,
        busy = 429,
        headersTooLarge = 431,
        failed = 500,
        badGateway = 502,
        unavailable = 503,
    };

    RequestRefused(Status status, const std::string& reason)
        : std::runtime_error(reason)
        , m_status(status) {}

    Status status() const { return m_status; }

private:
    Status m_status;
};
