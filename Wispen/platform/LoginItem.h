#pragma once

// Whether the desktop starts the application when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Whether the desktop will start the application at login; false when that
    // cannot be read.
    virtual bool isEnabled() const = 0;
    // Registers the application (true) or removes its registration (false); throws
    // a LocalizedError with the system's description, or another std::exception
    // when there is none, and leaves the registration as it was when it cannot.
    virtual void setRegistered(bool registered) = 0;
    // Opens the place where the user manages what starts at login; does nothing
    // when it cannot.
    virtual void openSettings() = 0;
};
