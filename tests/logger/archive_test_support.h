#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "logger/archive_profile.h"

// A settings file in memory, with the private-profile read rules the archive settings rely on.
class CMapProfile final : public IArchiveProfile {
 public:
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultText,
                        std::size_t bufferSize) const override {
    std::lock_guard<std::mutex> hold(lock);
    const auto it = values.find({std::string(section), std::string(key)});
    std::string text(it == values.end() ? defaultText : std::string_view(it->second));
    if (bufferSize == 0) return {};
    if (text.size() > bufferSize - 1) text.resize(bufferSize - 1);
    return text;
  }
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override {
    std::lock_guard<std::mutex> hold(lock);
    values[{std::string(section), std::string(key)}] = std::string(value);
    order.emplace_back(key);
    return true;
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> hold(lock);
    values[{section, key}] = value;
  }

  mutable std::mutex lock;
  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> order;  // keys in the order they were written
};

// Writes an executable shell script.
inline std::string WriteScript(const std::filesystem::path& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
  return path.string();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
