#include "SharedMedia.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

// Runs a shell command line of the tools that make recordings; throws when it fails.
void runTool(const std::string& command) {
    if (std::system((command + " >/dev/null").c_str()) != 0)
        throw std::runtime_error(command + " failed");
}

} // namespace

const std::string& SharedMedia::folder() {
    static const struct Folder {
        std::string path = (std::filesystem::temp_directory_path() / "wispen-service-XXXXXX");
        Folder() {
            if (!mkdtemp(path.data()))
                throw std::runtime_error("cannot make a temporary folder");
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } made;
    return made.path;
}

std::string SharedMedia::speech(const std::string& sentence, const std::string& name) {
    const std::string wav = folder() + "/" + name + ".wav";
    runTool("espeak-ng -m -v en-us+f5 -s 160 -w " + wav + " '" + sentence + "'");
    return encodeWav(wav, name);
}

std::string SharedMedia::encodeWav(const std::string& wavPath, const std::string& name,
                                   bool indexFirst) {
    return launch("filesrc location=" + wavPath + " ! wavparse" + aacEncoder + " ! mp4mux" +
                      (indexFirst ? " faststart=true" : ""),
                  name);
}

std::string SharedMedia::testSound(const std::string& wave, double seconds,
                                   const std::string& name) {
    return launch("audiotestsrc volume=0.3 wave=" + wave +
                      " num-buffers=" + std::to_string(int(seconds * 10)) +
                      " samplesperbuffer=2400" + aacEncoder + " ! mp4mux",
                  name);
}

std::string SharedMedia::launch(const std::string& pipeline, const std::string& name) {
    const std::string target = folder() + "/" + name + ".m4a";
    runTool("gst-launch-1.0 -q " + pipeline + " ! filesink location=" + target);
    return target;
}

std::vector<SharedMedia::Reference> SharedMedia::testDataRecordings() {
    // Each folder's transcription file has lines "<s> words </s> (file-id)".
    const std::regex line(R"(<s>\s*(.*?)\s*</s>\s*\(([^)]+)\))");
    std::vector<Reference> references;
    for (const std::string set : {"librivox", "cards"}) {
        const std::string folder = "/usr/share/pocketsphinx/test/data/" + set;
        const std::string listing =
            read(folder + (set == "cards" ? "/cards.transcription" : "/transcription"));
        for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it)
            references.push_back({folder + "/" + (*it)[2].str() + ".wav", (*it)[1].str()});
    }
    return references;
}

std::string SharedMedia::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
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

std::string SharedMedia::sentenceFile(std::size_t index) {
    static std::map<std::size_t, std::string> made;
    if (!made.contains(index))
        made[index] = speech(sentences().at(index), "sentence" + std::to_string(index));
    return made[index];
}

std::string SharedMedia::grammarFile() {
    const std::string file = folder() + "/sentences.gram";
    std::ofstream out(file);
    out << "#JSGF V1.0;\ngrammar sentences;\npublic <sentence> = ";
    for (std::size_t i = 0; i < sentences().size(); ++i)
        out << (i ? " | " : "") << sentences()[i];
    out << ";\n";
    return file;
}

std::string SharedMedia::silenceFile() {
    static const std::string path = testSound("silence", 2.0, "silence");
    return path;
}

std::vector<std::string> SharedMedia::minuteOfSentences() {
    std::vector<std::string> all = sentences();
    std::istringstream more(
        "the train leaves at seven so we should hurry.my sister bought a new car last week."
        "remember to water the plants while I am away.the children played in the garden all "
        "afternoon.please book a table for four at the restaurant.I will send you the "
        "documents by email tonight.the museum is closed on mondays and holidays.he forgot "
        "his umbrella and got wet in the rain.our team won the game by two points.could you "
        "turn the music down a little.the bakery on the corner sells fresh bread.we are "
        "planning a trip to the mountains in july");
    for (std::string sentence; std::getline(more, sentence, '.');)
        all.push_back(sentence);
    return all;
}

std::string SharedMedia::minuteFile() {
    std::string markup = "<speak>";
    for (const auto& sentence : minuteOfSentences())
        markup += sentence + "<break time=\"600ms\"/>";
    return speech(markup + "</speak>", "minute");
}
