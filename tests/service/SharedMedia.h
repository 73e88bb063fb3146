#pragma once

#include "TestMedia.h"

#include <string>
#include <vector>

// The recordings every service test shares, made once per test run.
namespace SharedMedia {

// Everyday sentences spoken by espeak-ng, each as "sentenceN.m4a".
const std::vector<std::string>& sentences();

TestMedia& media();

// The MPEG-4 file of sentences()[index].
std::string sentenceFile(std::size_t index);

// A JSGF grammar accepting exactly sentences(), for exact recognition checks.
std::string grammarFile();

// Two seconds of silence.
std::string silenceFile();

} // namespace SharedMedia
