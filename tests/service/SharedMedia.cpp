#include "SharedMedia.h"

#include <fstream>
#include <map>
#include <mutex>

namespace {

constexpr double silenceSeconds = 2.0;
std::mutex guard;

} // namespace

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
    static std::string path;
    if (path.empty())
        path = media().silence(silenceSeconds, "silence");
    return path;
}
