#pragma once

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

// Word error rate: the word-level edit distance between what was recognised and
// what was said, over the number of words said. Letter case and punctuation do not
// count.
namespace WordErrorRate {

inline std::vector<std::string> words(const std::string& text) {
    std::string cleaned;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        cleaned += std::isalnum(u) || c == '\'' ? static_cast<char>(std::tolower(u)) : ' ';
    }
    std::istringstream stream(cleaned);
    std::vector<std::string> result;
    for (std::string word; stream >> word;)
        result.push_back(word);
    return result;
}

// Substitutions, insertions and deletions needed to turn `reference` into `hypothesis`.
inline std::size_t errors(const std::string& reference, const std::string& hypothesis) {
    const auto said = words(reference);
    const auto heard = words(hypothesis);
    std::vector<std::size_t> row(heard.size() + 1);
    for (std::size_t j = 0; j <= heard.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= said.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= heard.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (said[i - 1] == heard[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[heard.size()];
}

inline std::size_t wordCount(const std::string& text) {
    return words(text).size();
}

} // namespace WordErrorRate
