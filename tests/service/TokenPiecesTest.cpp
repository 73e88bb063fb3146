#include "TokenPieces.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

// Ids 0 to 2 are the control pieces, as in the real vocabulary.
const TokenPieces pieces({"<unk>", "<s>", "</s>", "\xE2\x96\x81Hello", ",", "\xE2\x96\x81world",
                          "<0x21>", "<0xC3>", "<0xA9>",
                          "\xE2\x96\x81"
                          "caf",
                          "<0x0A>", "<0x4G>"});

TEST(TokenPieces, TextIsWrittenAsTheModelWroteIt) {
    const struct {
        std::vector<std::int64_t> ids;
        std::string text;
    } cases[] = {
        {{1, 3, 4, 5, 6, 2}, "Hello, world!"},
        {{9, 7, 8}, "caf\xC3\xA9"},     // bytes of one UTF-8 character
        {{3, 10, 5}, "Hello\n world"},  // a byte piece that is a control character
        {{11}, "<0x4G>"},               // only looks like a byte piece
        {{0, 1, 2, -1, 12, 32000}, ""}, // control ids and ids outside the vocabulary
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pieces.text(c.ids), c.text);
}

TEST(TokenPieces, OnlyAWholeVocabularyIsLoaded) {
    const std::string path = ::testing::TempDir() + "pieces.txt";
    for (const std::size_t count : {TokenPieces::expectedCount - 1, TokenPieces::expectedCount}) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < count; ++i)
            file << (i == 5 ? "\xE2\x96\x81word\r" : "x") << (i + 1 < count ? "\n" : "");
        file.close();
        const TokenPieces loaded = TokenPieces::load(path);
        EXPECT_EQ(loaded.empty(), count != TokenPieces::expectedCount);
        if (!loaded.empty()) {
            EXPECT_EQ(loaded.text({5}), "word\r") << "a carriage return is part of its piece";
        }
    }
    std::remove(path.c_str());
}

} // namespace
