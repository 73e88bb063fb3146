#pragma once

#include <QString>

#include <memory>

// One element of another application's accessibility tree. Its bus name and object
// path say which element it is (two handles to the same element compare equal); the
// handle keeps the backend's object alive for as long as the value exists.
class AccessibleElement {
public:
    AccessibleElement() = default;
    AccessibleElement(QString bus, QString path, std::shared_ptr<void> handle = {})
        : bus_(std::move(bus))
        , path_(std::move(path))
        , handle_(std::move(handle)) {}

    bool isNull() const { return bus_.isEmpty() && path_.isEmpty(); }
    const QString& bus() const { return bus_; }
    const QString& path() const { return path_; }
    void* handle() const { return handle_.get(); }

    friend bool operator==(const AccessibleElement& a, const AccessibleElement& b) {
        return a.bus_ == b.bus_ && a.path_ == b.path_;
    }

private:
    QString bus_;
    QString path_;
    std::shared_ptr<void> handle_;
};
