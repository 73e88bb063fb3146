#pragma once

#include <string>
#include <vector>

// Recordings no decoder should accept, each with a name for test messages.
namespace MalformedMedia {

struct Case {
    std::string name;
    std::string bytes;
};

// Random bytes, random bytes behind an MPEG-4 file-type box, a file cut in half, a
// video without sound, a file whose headers claim ten hours, and nothing at all.
std::vector<Case> cases();

// `file` (an MPEG-4 file) with every duration in its movie, track and media
// headers set to `seconds` of that header's time scale.
std::string withDeclaredDuration(std::string file, unsigned seconds);

} // namespace MalformedMedia
