#include "TokenPieces.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

// The first lines of the vocabulary file: ids 0 to 2 are the control pieces, as in
// the real one, and filler makes up the rest.
constexpr std::size_t firstCount = 13;
const std::string first = "<unk>\n<s>\n</s>\n\xE2\x96\x81Hello\n,\n\xE2\x96\x81world\n<0x21>\n"
                          "<0xC3>\n<0xA9>\n\xE2\x96\x81"
                          "caf\n<0x0A>\n<0x4G>\n\xE2\x96\x81word\r";

TEST(TokenPieces, AWholeVocabularyIsLoadedAndTextIsWrittenAsTheModelWroteIt) {
    const std::string path = ::testing::TempDir() + "pieces.txt";
    {
        std::ofstream file(path, std::ios::binary);
        file << first;
        for (std::size_t i = firstCount; i < TokenPieces::expectedCount; ++i)
            file << "\nx";
    }
    const TokenPieces pieces = TokenPieces::load(path);
    const struct {
        std::vector<std::int64_t> ids;
        std::string text;
    } cases[] = {
        {{1, 3, 4, 5, 6, 2}, "Hello, world!"},
        {{9, 7, 8}, "caf\xC3\xA9"},    // bytes of one UTF-8 character
        {{3, 10, 5}, "Hello\n world"}, // a byte piece that is a control character
        {{11}, "<0x4G>"},              // only looks like a byte piece
        {{12}, "word\r"},              // a carriage return is part of its piece
        {{0, 1, 2, -1, 32000}, ""},    // control ids and ids outside the vocabulary
    };
    for (const auto& c : cases)
        EXPECT_EQ(pieces.text(c.ids), c.text);
    // One piece short, it is not the vocabulary the model was trained with.
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 2);
    EXPECT_TRUE(TokenPieces::load(path).empty());
    std::filesystem::remove(path);
}

} // namespace
