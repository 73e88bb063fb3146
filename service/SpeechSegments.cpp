#include "SpeechSegments.h"

#include <limits>

namespace {

// Sum of squares of the window starting at `start`.
double energy(const std::vector<std::int16_t>& samples, std::size_t start) {
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
        const std::size_t target = pieceStart + segmentSamples;
        std::size_t best = target;
        double quietest = std::numeric_limits<double>::max();
        for (std::size_t start = target - searchSamples;
             start + windowSamples <= target + searchSamples; start += windowSamples) {
            const double e = energy(samples, start);
            if (e < quietest) {
                quietest = e;
                best = start + windowSamples / 2;
            }
        }
        result.push_back(best);
        pieceStart = best;
    }
    return result;
}
