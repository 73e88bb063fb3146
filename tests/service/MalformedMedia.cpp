#include "MalformedMedia.h"

#include "SharedMedia.h"

#include <cstdint>
#include <random>

namespace {

constexpr unsigned tenHoursSec = 36000;
constexpr std::size_t randomBytes = 20000;

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * (3 - i)));
}

std::string randomText(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>(generator());
    return text;
}

} // namespace

std::string MalformedMedia::withDeclaredDuration(std::string file, unsigned seconds) {
    // Version-0 headers: mvhd and mdhd hold time scale then duration after two
    // 32-bit times; tkhd holds the duration after the track id and a reserved word,
    // in the movie's time scale.
    std::uint32_t movieScale = 0;
    for (std::size_t at = file.find("mvhd"); at != std::string::npos;
         at = file.find("mvhd", at + 1)) {
        movieScale = bigEndian(file, at + 16);
        putBigEndian(file, at + 20, movieScale * seconds);
    }
    for (std::size_t at = file.find("tkhd"); at != std::string::npos;
         at = file.find("tkhd", at + 1))
        putBigEndian(file, at + 24, movieScale * seconds);
    for (std::size_t at = file.find("mdhd"); at != std::string::npos;
         at = file.find("mdhd", at + 1))
        putBigEndian(file, at + 20, bigEndian(file, at + 16) * seconds);
    return file;
}

std::vector<MalformedMedia::Case> MalformedMedia::cases() {
    const std::string speech = TestMedia::read(SharedMedia::sentenceFile(0));
    std::string boxed = randomText(randomBytes, 2);
    boxed.replace(0, 12,
                  std::string("\0\0\0\x14"
                              "ftypmp42",
                              12));
    return {
        {"random bytes", randomText(randomBytes, 1)},
        {"random bytes behind a file-type box", boxed},
        {"a file cut in half", speech.substr(0, speech.size() / 2)},
        {"a video without sound", TestMedia::read(SharedMedia::media().videoOnly("video-only"))},
        {"headers claiming ten hours", withDeclaredDuration(speech, tenHoursSec)},
        {"no bytes at all", std::string()},
    };
}
