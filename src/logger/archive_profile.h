#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The settings file as the archive settings see it: one key read or written at a time, with the
// rules of a private profile. The program's settings object is adapted with CArchiveProfileOf;
// tests may hand in a map. Implementations must allow calls from the archiving workers.
class IArchiveProfile {
 public:
  virtual ~IArchiveProfile() = default;
  // The key's value, or defaultText when absent; at most bufferSize - 1 characters.
  virtual std::string GetString(std::string_view section, std::string_view key, std::string_view defaultText,
                                std::size_t bufferSize) const = 0;
  virtual bool WriteString(std::string_view section, std::string_view key, std::string_view value) = 0;
};

// Adapts any settings object with the same two calls (the program's CSettingsProfile) without this
// library linking to it. The profile must outlive the adapter.
template <class Profile>
class CArchiveProfileOf final : public IArchiveProfile {
 public:
  explicit CArchiveProfileOf(Profile& profile) : profile(profile) {}
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultText,
                        std::size_t bufferSize) const override {
    return profile.GetString(section, key, defaultText, bufferSize);
  }
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override {
    return profile.WriteString(section, key, value);
  }

 private:
  Profile& profile;
};
