#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// A folder of this fuzzing process for the targets that write files, "plowview-fuzz-TAG-PID" in the
// temporary folder, made at the first call and removed when the process exits. Each target is a
// process of its own, so the tag of the first call names it.
inline const std::filesystem::path& ScratchFolder(const char* tag) {
  static const std::filesystem::path folder = [tag] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("plowview-fuzz-" + std::string(tag) + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(""), ec);
    });
    return p;
  }();
  return folder;
}
