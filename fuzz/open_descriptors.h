#pragma once

#include <cstddef>
#include <filesystem>
#include <iterator>

// Descriptors open in this process, for the targets that open files: every input must leave as
// many as it found.
inline std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                std::filesystem::directory_iterator()));
}
