#pragma once

#include <cstdlib>
#include <memory>

// Owner of a reply (or error) that xcb allocated with malloc.
struct XcbFreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFreeDeleter>;
