#include "SpeechSegments.h"

#include "RequestRefused.h"

#include <algorithm>
#include <limits>

namespace {

// Sum of squares of the window starting at `start`.
double energy(const std::int16_t* samples, std::size_t start) {
    double sum = 0;
    for (std::size_t i = start; i < start + SpeechSegments::windowSamples; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return sum;
}

} // namespace

std::vector<std::size_t> SpeechSegments::cuts(const std::vector<std::int16_t>& samples) {
    std::vector<std::size_t> result;
    std::size_t pieceStart = 0;
    // The last piece may run up to a search span longer rather than leave a scrap.
    while (samples.size() - pieceStart > segmentSamples + searchSamples) {
        const std::size_t best =
            quietest(samples.data(), pieceStart + segmentSamples - searchSamples,
                     pieceStart + segmentSamples + searchSamples);
        result.push_back(best);
        pieceStart = best;
    }
    return result;
}

std::string SpeechSegments::recogniseInPieces(
    const std::vector<std::int16_t>& samples, Deadline deadline,
    const std::function<std::string(const std::int16_t*, std::size_t)>& recognisePiece) {
    std::vector<std::size_t> bounds = cuts(samples);
    bounds.push_back(samples.size());
    std::string text;
    std::size_t start = 0;
    for (const std::size_t end : bounds) {
        if (deadline.passed())
            throw RequestRefused(RequestRefused::unavailable,
                                 "Recognition took too long and was abandoned.");
        const std::string words = recognisePiece(samples.data() + start, end - start);
        if (!words.empty())
            text += (text.empty() ? "" : " ") + words;
        start = end;
    }
    return text;
}

std::size_t SpeechSegments::quietest(const std::int16_t* samples, std::size_t from,
                                     std::size_t to) {
    std::size_t best = from + (to - from) / 2;
    double lowest = std::numeric_limits<double>::max();
    for (std::size_t start = from; start + windowSamples <= to; start += windowSamples) {
        const double e = energy(samples, start);
        if (e < lowest) {
            lowest = e;
            best = start + windowSamples / 2;
        }
    }
    return best;
}

bool SpeechSegments::hasSpeech(const std::int16_t* samples, std::size_t count) {
    std::vector<double> levels;
    for (std::size_t start = 0; start + windowSamples <= count; start += windowSamples)
        levels.push_back(energy(samples, start) / windowSamples);
    if (levels.empty())
        return false;
    std::sort(levels.begin(), levels.end());
    const double loud = levels[levels.size() * 9 / 10];
    const double quiet = levels[levels.size() / 10];
    return loud >= speechLevel * speechLevel && loud >= quiet * speechOverNoise;
}
