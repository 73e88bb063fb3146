#pragma once

#include <vector>

// Where the text cursor of a field stands and what is selected, compared as a value:
// moving the cursor or changing the selection makes it unequal.
struct TextSelection {
    struct Range {
        int start = 0;
        int end = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    int caret = 0;
    std::vector<Range> ranges;

    friend bool operator==(const TextSelection&, const TextSelection&) = default;
};
