#pragma once

#include <QString>
#include <exception>
#include <optional>

// An error that may carry a sentence fit to show the user. The controller shows
// errorDescription() when present and its own fallback wording when it is absent.
class LocalizedError : public std::exception {
public:
    virtual std::optional<QString> errorDescription() const = 0;
    const char* what() const noexcept override { return "LocalizedError"; }
};
