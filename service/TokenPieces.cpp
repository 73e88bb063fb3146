#include "TokenPieces.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace {

constexpr std::string_view spaceMark = "\xE2\x96\x81"; // U+2581, the piece's space

// The byte of a "<0xAB>" piece, or -1 when it is an ordinary piece.
int byteOf(std::string_view piece) {
    if (piece.size() != 6 || !piece.starts_with("<0x") || piece.back() != '>')
        return -1;
    int value = 0;
    const auto [end, error] = std::from_chars(piece.data() + 3, piece.data() + 5, value, 16);
    return error == std::errc() && end == piece.data() + 5 ? value : -1;
}

} // namespace

TokenPieces TokenPieces::load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    const std::string content{std::istreambuf_iterator<char>(file), {}};
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t lineFeed = content.find('\n', start);
        pieces.push_back(content.substr(start, lineFeed - start));
        if (lineFeed == std::string::npos)
            break;
        start = lineFeed + 1;
    }
    if (pieces.size() != expectedCount)
        return {};
    return TokenPieces(std::move(pieces));
}

std::string TokenPieces::text(const std::vector<std::int64_t>& ids) const {
    std::string result;
    for (const std::int64_t id : ids) {
        if (id == unknown || id == start || id == end || id < 0 ||
            static_cast<std::size_t>(id) >= m_pieces.size())
            continue;
        const std::string& piece = m_pieces[static_cast<std::size_t>(id)];
        if (const int byte = byteOf(piece); byte >= 0) {
            result += static_cast<char>(byte);
            continue;
        }
        for (std::size_t at = 0; at < piece.size();) {
            if (piece.compare(at, spaceMark.size(), spaceMark) == 0) {
                result += ' ';
                at += spaceMark.size();
            } else {
                result += piece[at++];
            }
        }
    }
    const auto first = result.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return result.substr(first, result.find_last_not_of(' ') - first + 1);
}
