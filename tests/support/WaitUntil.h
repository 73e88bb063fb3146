#pragma once

#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// Runs the calling thread's Qt event loop until `condition` holds or `timeout`
// has passed; returns whether it holds. Tests wait on events with this instead
// of sleeping a fixed time.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs a tool to its end, for at most ten seconds, while the event loop keeps running
// (it may wait on a window or the clipboard of ours); its standard output, or nothing
// when it failed.
std::optional<QString> runTool(const QString& program, const QStringList& arguments);
