#include "SharedMedia.h"

#include "Polling.h"

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

constexpr std::chrono::seconds toolLimit{60};
constexpr int sampleRateHz = 24000;
constexpr const char* encoder =
    " ! audioconvert ! audioresample ! audio/x-raw,rate=24000,channels=1"
    " ! avenc_aac bitrate=64000 ! mp4mux";

// Runs a command to its end; throws std::runtime_error when it fails or takes more than a minute.
void runTool(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& word : arguments)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0 || Polling::exitCodeOf(pid, toolLimit) != 0)
        throw std::runtime_error(arguments.front() + " failed");
}

void gstLaunch(const std::string& pipeline, const std::string& target) {
    std::vector<std::string> argv{"gst-launch-1.0", "-q"};
    std::istringstream words(pipeline + " ! filesink location=" + target);
    for (std::string word; words >> word;)
        argv.push_back(word);
    runTool(argv);
}

constexpr double silenceSeconds = 2.0;
constexpr unsigned tenHoursSec = 36000;
constexpr std::size_t randomBytes = 20000;
std::mutex guard;

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

// `file` with every duration in its movie, track and media headers set to `seconds`.
// Version-0 headers: mvhd and mdhd hold time scale then duration after two 32-bit
// times; tkhd holds the duration after the track id and a reserved word, in the
// movie's time scale.
std::string withDeclaredDuration(std::string file, unsigned seconds) {
    auto each = [&](const char* box, auto change) {
        for (std::size_t at = file.find(box); at != std::string::npos; at = file.find(box, at + 1))
            change(at);
    };
    std::uint32_t movieScale = 0;
    each("mvhd", [&](std::size_t at) {
        movieScale = bigEndian(file, at + 16);
        putBigEndian(file, at + 20, movieScale * seconds);
    });
    each("tkhd", [&](std::size_t at) { putBigEndian(file, at + 24, movieScale * seconds); });
    each("mdhd",
         [&](std::size_t at) { putBigEndian(file, at + 20, bigEndian(file, at + 16) * seconds); });
    return file;
}

std::string randomText(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>(generator());
    return text;
}

} // namespace

TestMedia::TestMedia() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "wispen-service-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_folder = pattern;
}

TestMedia::~TestMedia() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::string TestMedia::speech(const std::string& sentence, const std::string& name) {
    const std::string wav = m_folder + "/" + name + ".wav";
    runTool({"espeak-ng", "-v", voice, "-s", std::to_string(wordsPerMinute), "-w", wav, sentence});
    return encodeWav(wav, name);
}

std::string TestMedia::encodeWav(const std::string& wavPath, const std::string& name,
                                 bool indexFirst) {
    const std::string target = m_folder + "/" + name + ".m4a";
    gstLaunch("filesrc location=" + wavPath + " ! wavparse" + encoder +
                  (indexFirst ? " faststart=true" : ""),
              target);
    return target;
}

std::string TestMedia::silence(double seconds, const std::string& name) {
    return testSound("silence", seconds, name);
}

std::string TestMedia::testSound(const std::string& wave, double seconds, const std::string& name) {
    const std::string target = m_folder + "/" + name + ".m4a";
    gstLaunch("audiotestsrc volume=0.3 wave=" + wave +
                  " num-buffers=" + std::to_string(int(seconds * 10)) +
                  " samplesperbuffer=" + std::to_string(sampleRateHz / 10) + encoder,
              target);
    return target;
}

std::string TestMedia::speechWithPauses(const std::vector<std::string>& sentences, int pauseMs,
                                        const std::string& name) {
    std::string markup = "<speak>";
    for (const auto& sentence : sentences)
        markup += sentence + "<break time=\"" + std::to_string(pauseMs) + "ms\"/>";
    const std::string wav = m_folder + "/" + name + ".wav";
    runTool({"espeak-ng", "-m", "-v", voice, "-s", std::to_string(wordsPerMinute), "-w", wav,
             markup + "</speak>"});
    return encodeWav(wav, name);
}

std::string TestMedia::videoOnly(const std::string& name) {
    const std::string target = m_folder + "/" + name + ".mp4";
    gstLaunch("videotestsrc num-buffers=10 ! video/x-raw,width=64,height=64 ! videoconvert"
              " ! avenc_mpeg4 ! mp4mux",
              target);
    return target;
}

std::string TestMedia::launch(const std::string& pipeline, const std::string& name) {
    const std::string target = m_folder + "/" + name + ".m4a";
    gstLaunch(pipeline, target);
    return target;
}

std::vector<TestMedia::Reference> TestMedia::testDataRecordings() {
    // Each folder's transcription file has lines "<s> words </s> (file-id)".
    static const std::regex line(R"(<s>\s*(.*?)\s*</s>\s*\(([^)]+)\))");
    std::vector<Reference> references;
    for (const std::string set : {"librivox", "cards"}) {
        const std::string folder = std::string(testDataFolder) + "/" + set;
        const std::string listing =
            read(folder + (set == "cards" ? "/cards.transcription" : "/transcription"));
        for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it)
            references.push_back({folder + "/" + (*it)[2].str() + ".wav",
                                  std::regex_replace((*it)[1].str(), std::regex(R"(\s+)"), " ")});
    }
    return references;
}

std::string TestMedia::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::vector<std::string>& SharedMedia::sentences() {
    static const std::vector<std::string> list = {
        "please send the report to my manager before noon",
        "the weather is nice today so we will walk to the park",
        "can you call me back in ten minutes",
        "open the door and turn on the light",
        "we need more time to finish this project",
        "thank you for your help with the meeting yesterday",
    };
    return list;
}

TestMedia& SharedMedia::media() {
    static TestMedia shared;
    return shared;
}

std::string SharedMedia::sentenceFile(std::size_t index) {
    std::lock_guard lock(guard);
    static std::map<std::size_t, std::string> made;
    if (!made.contains(index))
        made[index] = media().speech(sentences().at(index), "sentence" + std::to_string(index));
    return made[index];
}

std::string SharedMedia::grammarFile() {
    std::lock_guard lock(guard);
    static std::string path;
    if (path.empty()) {
        path = media().folder() + "/sentences.gram";
        std::ofstream out(path);
        out << "#JSGF V1.0;\ngrammar sentences;\npublic <sentence> = ";
        for (std::size_t i = 0; i < sentences().size(); ++i)
            out << (i ? " | " : "") << sentences()[i];
        out << ";\n";
    }
    return path;
}

std::string SharedMedia::silenceFile() {
    std::lock_guard lock(guard);
    static const std::string path = media().silence(silenceSeconds, "silence");
    return path;
}

const std::vector<std::string>& SharedMedia::minuteOfSentences() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> all = sentences();
        for (const char* more : {
                 "the train leaves at seven so we should hurry",
                 "my sister bought a new car last week",
                 "remember to water the plants while I am away",
                 "the children played in the garden all afternoon",
                 "please book a table for four at the restaurant",
                 "I will send you the documents by email tonight",
                 "the museum is closed on mondays and holidays",
                 "he forgot his umbrella and got wet in the rain",
                 "our team won the game by two points",
                 "could you turn the music down a little",
                 "the bakery on the corner sells fresh bread",
                 "we are planning a trip to the mountains in july",
             })
            all.emplace_back(more);
        return all;
    }();
    return list;
}

std::string SharedMedia::minuteFile() {
    std::lock_guard lock(guard);
    static const std::string path = media().speechWithPauses(minuteOfSentences(), 600, "minute");
    return path;
}

std::vector<SharedMedia::Malformed> SharedMedia::malformed() {
    const std::string speech = TestMedia::read(sentenceFile(0));
    std::string boxed = randomText(randomBytes, 2);
    boxed.replace(0, 12,
                  std::string("\0\0\0\x14"
                              "ftypmp42",
                              12));
    return {
        {"random bytes", randomText(randomBytes, 1)},
        {"random bytes behind a file-type box", boxed},
        {"a file cut in half", speech.substr(0, speech.size() / 2)},
        {"a video without sound", TestMedia::read(media().videoOnly("video-only"))},
        {"headers claiming ten hours", withDeclaredDuration(speech, tenHoursSec)},
        {"no bytes at all", std::string()},
    };
}