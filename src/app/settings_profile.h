#pragma once

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "link/protocol/settings_store.h"

// The program's settings file: an INI file read and written one key at a time with the rules of a
// private profile, so that hand edits and unknown sections survive the program.
//
// Reading: section and key names match without regard to ASCII case; blanks around names and
// values are ignored; the first matching section and the first matching key win; lines that begin
// with ';' or '#' are comments; a line without '=' is no key. The value is everything after the
// first '=', so values may hold '=', '%', ';' and quotes and read back as written (less surrounding
// blanks).
//
// Writing: every WriteString reads the file afresh, replaces the key's line or adds one at the end
// of its section (or a new section at the end of the file), and replaces the file in one rename, so
// a crash never leaves half a file. Comments, blank lines, other keys and sections keep their text
// and order. The folder is created when missing.
//
// Each call reads the file again, so changes made by hand while the program runs take effect at
// the next read. Calls are serialised within the process; the object may be shared between threads.
class CSettingsProfile final : public ISettingsStore {
 public:
  // Size of the read buffer of every setting: at most kBufferSize - 1 characters are returned.
  static constexpr std::size_t kBufferSize = 255;

  explicit CSettingsProfile(std::filesystem::path file);

  // $XDG_CONFIG_HOME/Plowview.ini, or ~/.config/Plowview.ini when that variable is unset, empty or
  // not an absolute path.
  static std::filesystem::path DefaultPath();

  const std::filesystem::path& Path() const { return file; }

  // The key's value, or defaultText when the file, the section or the key is missing. Either is
  // cut to bufferSize - 1 characters (nothing is returned for a bufferSize of 0).
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultText,
                        std::size_t bufferSize = kBufferSize) const override;

  // Writes one key. False, with the file unchanged, when the file cannot be written or when the
  // text would not read back as one key: an empty name, a line break anywhere, '=' in the key,
  // ']' in the section, or a key beginning with '[', ';' or '#'. On failure `error` (when given)
  // says why: the system's reason, or invalid_argument for a text that cannot be a key.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value,
                   std::error_code* error);
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override {
    return WriteString(section, key, value, nullptr);
  }

  // Writes an integer as decimal text.
  bool WriteInt(std::string_view section, std::string_view key, int value);

 private:
  std::filesystem::path file;
  mutable std::mutex lock;
};
