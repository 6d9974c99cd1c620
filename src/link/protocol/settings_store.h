#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The settings file as the libraries below the program see it: one key read or written at a time,
// with the rules of a private profile (the program's CSettingsProfile). Tests may hand in a map.
// Implementations must allow calls from worker threads (the archiving reads its settings there).
class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  // The key's value, or defaultText when absent; at most bufferSize - 1 characters.
  virtual std::string GetString(std::string_view section, std::string_view key, std::string_view defaultText,
                                std::size_t bufferSize) const = 0;
  // False, with the file unchanged, when the key could not be written.
  virtual bool WriteString(std::string_view section, std::string_view key, std::string_view value) = 0;
};
