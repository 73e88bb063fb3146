#pragma once

#include "Recogniser.h"
#include "ServiceOptions.h"

#include <memory>
#include <string>

// The engines that recognise on this machine, and which one serves.
namespace LocalEngine {

inline constexpr const char* moonshineBase = "moonshine-base";
inline constexpr const char* moonshineTiny = "moonshine-tiny";
inline constexpr const char* pocketsphinx = "pocketsphinx";

// The engine asked for, or when none was: pocketsphinx when given a grammar or a
// model folder of its own, else the default Moonshine model where it is installed,
// else pocketsphinx.
std::string chosen(const ServiceOptions& options);

// Loads the chosen engine; throws std::invalid_argument with a sentence when a
// Moonshine engine was asked for and this build has none.
std::unique_ptr<Recogniser> make(const ServiceOptions& options);

} // namespace LocalEngine
