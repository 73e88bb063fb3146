#pragma once

#include <algorithm>
#include <cctype>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Word error rate: the word-level edit distance between what was recognised and
// what was said, over the number of words said. Letter case and punctuation do not
// count.
namespace WordErrorRate {

inline std::vector<std::string> words(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        c = std::isalnum(u) || c == '\'' ? static_cast<char>(std::tolower(u)) : ' ';
    }
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), {}};
}

// Substitutions, insertions and deletions needed to turn `reference` into `hypothesis`.
inline std::size_t errors(const std::string& reference, const std::string& hypothesis) {
    const auto said = words(reference);
    const auto heard = words(hypothesis);
    std::vector<std::size_t> row(heard.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t i = 1; i <= said.size(); ++i) {
        std::size_t diagonal = std::exchange(row[0], i);
        for (std::size_t j = 1; j <= heard.size(); ++j)
            diagonal = std::exchange(row[j], std::min({row[j] + 1, row[j - 1] + 1,
                                                       diagonal + (said[i - 1] != heard[j - 1])}));
    }
    return row[heard.size()];
}

} // namespace WordErrorRate
