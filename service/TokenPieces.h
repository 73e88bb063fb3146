#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 32,000-piece sentence-piece vocabulary Moonshine writes in: turns the token
// ids a decoder produced into text exactly as the model wrote it, capitals,
// punctuation and digits included. A piece's "▁" stands for a space; pieces
// "<0x41>" are single bytes of text the vocabulary has no piece for.
class TokenPieces {
public:
    static constexpr std::size_t expectedCount = 32000;
    static constexpr std::int64_t unknown = 0;
    static constexpr std::int64_t start = 1;
    static constexpr std::int64_t end = 2;

    TokenPieces() = default;
    explicit TokenPieces(std::vector<std::string> pieces)
        : m_pieces(std::move(pieces)) {}

    // Reads the pieces from a file of one piece per line (line feeds only), in id
    // order; empty when the file is missing or does not hold expectedCount pieces.
    static TokenPieces load(const std::string& path);

    bool empty() const { return m_pieces.empty(); }

    // The text of `ids`, without the space the first word's piece begins with and
    // without control tokens or ids outside the vocabulary.
    std::string text(const std::vector<std::int64_t>& ids) const;

private:
    std::vector<std::string> m_pieces;
};
