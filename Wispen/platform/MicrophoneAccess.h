#pragma once

#include <QString>
#include <functional>

// Whether this user may use the microphone. Outside a sandbox Linux has no
// permission prompt: the only refusal is the sound server's socket being closed to
// this user. A missing sound server or input device is not a refusal; the recorder
// reports it when it cannot open the input.
namespace MicrophoneAccess {

// Answers on the next turn of the calling thread's event loop, never synchronously,
// exactly once. Never fails: an unanswerable question counts as granted.
void request(std::function<void(bool granted)> completion);

// False only when the sound server's socket exists and this user may not open it.
bool isGranted();

// The sound server's local socket: the unix path in PULSE_SERVER when it names one,
// otherwise pulse/native in the runtime directory (PulseAudio and PipeWire alike);
// empty when neither can be told.
QString serverSocketPath();

} // namespace MicrophoneAccess
