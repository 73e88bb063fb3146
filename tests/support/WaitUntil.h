#pragma once

#include <chrono>
#include <functional>

// Runs the calling thread's Qt event loop until `condition` holds or `timeout`
// has passed; returns whether it holds. Tests wait on events with this instead
// of sleeping a fixed time.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
