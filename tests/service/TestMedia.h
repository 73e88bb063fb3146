#pragma once

#include <string>
#include <vector>

// Test recordings, made at test time in a private temporary folder with the same
// tools and settings the application records with (AAC in MPEG-4, 24 kHz mono,
// 64 kbit/s), so nothing binary is kept in the repository.
class TestMedia {
public:
    static constexpr const char* voice = "en-us+f5";
    static constexpr int wordsPerMinute = 160;
    static constexpr const char* testDataFolder = "/usr/share/pocketsphinx/test/data";

    // The folder is removed with the object.
    TestMedia();
    ~TestMedia();
    TestMedia(const TestMedia&) = delete;
    TestMedia& operator=(const TestMedia&) = delete;

    const std::string& folder() const { return m_folder; }

    // Each returns the path of a new MPEG-4 file; throws std::runtime_error when a
    // tool fails.
    std::string speech(const std::string& sentence, const std::string& name);
    std::string encodeWav(const std::string& wavPath, const std::string& name);
    std::string silence(double seconds, const std::string& name);
    std::string videoOnly(const std::string& name);

    // A spoken-word recording of the pocketsphinx test data and what is said in it.
    struct Reference {
        std::string wavPath;
        std::string transcript;
    };
    static std::vector<Reference> testDataRecordings();

    static std::string read(const std::string& path);

private:
    std::string path(const std::string& name) const { return m_folder + "/" + name; }

    std::string m_folder;
};

// Runs a command to its end; throws std::runtime_error when it fails or takes more
// than a minute.
void runTool(const std::vector<std::string>& argv);
