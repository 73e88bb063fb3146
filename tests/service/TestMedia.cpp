#include "TestMedia.h"

#include "Polling.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr std::chrono::seconds toolLimit{60};
constexpr int sampleRateHz = 24000;
constexpr const char* encoder = "audioconvert ! audioresample ! audio/x-raw,rate=24000,channels=1"
                                " ! avenc_aac bitrate=64000 ! mp4mux";

std::vector<std::string> gstLaunch(const std::string& description) {
    std::vector<std::string> argv{"gst-launch-1.0", "-q"};
    std::istringstream words(description);
    for (std::string word; words >> word;)
        argv.push_back(word);
    return argv;
}

} // namespace

void runTool(const std::vector<std::string>& arguments) {
    std::vector<std::string> text = arguments;
    std::vector<char*> argv;
    for (auto& word : text)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        throw std::runtime_error("cannot run " + arguments.front());
    int status = 0;
    if (!Polling::until(toolLimit, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        throw std::runtime_error(arguments.front() + " took too long");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(arguments.front() + " failed");
}

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
    const std::string wav = path(name + ".wav");
    runTool({"espeak-ng", "-v", voice, "-s", std::to_string(wordsPerMinute), "-w", wav, sentence});
    return encodeWav(wav, name);
}

std::string TestMedia::encodeWav(const std::string& wavPath, const std::string& name) {
    const std::string target = path(name + ".m4a");
    runTool(gstLaunch("filesrc location=" + wavPath + " ! wavparse ! " + encoder +
                      " ! filesink location=" + target));
    return target;
}

std::string TestMedia::silence(double seconds, const std::string& name) {
    const std::string target = path(name + ".m4a");
    const int buffers = static_cast<int>(seconds * 10);
    runTool(gstLaunch("audiotestsrc wave=silence num-buffers=" + std::to_string(buffers) +
                      " samplesperbuffer=" + std::to_string(sampleRateHz / 10) + " ! " + encoder +
                      " ! filesink location=" + target));
    return target;
}

std::string TestMedia::videoOnly(const std::string& name) {
    const std::string target = path(name + ".mp4");
    runTool(gstLaunch("videotestsrc num-buffers=10 ! video/x-raw,width=64,height=64"
                      " ! videoconvert ! avenc_mpeg4 ! mp4mux ! filesink location=" +
                      target));
    return target;
}

std::vector<TestMedia::Reference> TestMedia::testDataRecordings() {
    // Each folder's transcription file has lines "<s> words </s> (file-id)".
    static const std::regex line(R"(<s>\s*(.*?)\s*</s>\s*\(([^)]+)\))");
    std::vector<Reference> references;
    for (const char* set : {"librivox", "cards"}) {
        const std::string folder = std::string(testDataFolder) + "/" + set;
        const std::string listing = read(
            folder + (std::string(set) == "cards" ? "/cards.transcription" : "/transcription"));
        for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it) {
            std::string words = (*it)[1];
            words = std::regex_replace(words, std::regex(R"(\s+)"), " ");
            references.push_back({folder + "/" + (*it)[2].str() + ".wav", words});
        }
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
