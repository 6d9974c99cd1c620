#include "app/settings_profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The section name of a header line, or nothing for any other line. A header missing its ']' still
// counts, up to the end of the line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  const auto t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  auto name = t.substr(1);
  const auto close = name.find(']');
  if (close != std::string_view::npos) name = name.substr(0, close);
  return Trim(name);
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> KeyOf(std::string_view line) {
  const auto t = Trim(line);
  if (t.empty() || IsComment(t) || t.front() == '[') return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

// The file as lines without their line ends; `crlf` tells whether it used "\r\n".
struct IniText {
  std::vector<std::string> lines;
  bool crlf = false;
};

// False only when the file exists but cannot be read (`error` then says why); a missing file is
// an empty text.
bool ReadIni(const std::filesystem::path& file, IniText& out, std::error_code* error = nullptr) {
  out = {};
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    const int openError = errno;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !ec) return true;
    if (error) *error = std::error_code(openError != 0 ? openError : EACCES, std::generic_category());
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      out.crlf = true;
    }
    out.lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

// Replaces `file` by `text` in one rename. An existing file keeps its permissions; a new one is
// readable by its owner only, since the settings may hold passwords. On failure `error` holds the
// system's reason.
bool ReplaceFile(const std::filesystem::path& file, const std::string& text, std::error_code& error) {
  if (file.has_parent_path()) {
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) return false;
  }
  auto fail = [&error](int code) {
    error = std::error_code(code != 0 ? code : EIO, std::generic_category());
    return false;
  };
  std::string tempName = file.string() + ".XXXXXX";
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat old {};
  if (::stat(file.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  int failure = 0;
  std::size_t done = 0;
  while (failure == 0 && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      failure = n < 0 ? errno : ENOSPC;
    else
      done += static_cast<std::size_t>(n);
  }
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(tempName.c_str(), file.c_str()) != 0) failure = errno;
  if (failure == 0) return true;
  ::unlink(tempName.c_str());
  return fail(failure);
}

}  // namespace

CSettingsProfile::CSettingsProfile(std::filesystem::path file) : file(std::move(file)) {}

std::filesystem::path CSettingsProfile::DefaultPath() {
  std::filesystem::path folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = ::getpwuid(::getuid());
      home = (pw && pw->pw_dir) ? pw->pw_dir : "/tmp";
    }
    folder = std::filesystem::path(home) / ".config";
  }
  return folder / "Plowview.ini";
}

std::string CSettingsProfile::GetString(std::string_view section, std::string_view key,
                                        std::string_view defaultText, std::size_t bufferSize) const {
  const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  auto cut = [limit](std::string_view s) { return std::string(s.substr(0, limit)); };

  IniText ini;
  {
    std::lock_guard<std::mutex> hold(lock);
    if (!ReadIni(file, ini)) return cut(defaultText);
  }
  const auto wantSection = Trim(section);
  const auto wantKey = Trim(key);
  bool inSection = false;
  bool sectionSeen = false;
  for (const auto& line : ini.lines) {
    if (auto name = SectionOf(line)) {
      // Only the first section of a name counts, as later duplicates are never written to.
      if (sectionSeen) break;
      inSection = SameName(*name, wantSection);
      sectionSeen = inSection;
      continue;
    }
    if (!inSection) continue;
    if (auto kv = KeyOf(line); kv && SameName(kv->key, wantKey)) return cut(kv->value);
  }
  return cut(defaultText);
}

bool CSettingsProfile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                                   std::error_code* error) {
  std::error_code ignored;
  std::error_code& why = error != nullptr ? *error : ignored;
  why.clear();
  const auto invalid = [&why] {
    why = std::make_error_code(std::errc::invalid_argument);
    return false;
  };
  const auto wantSection = Trim(section);
  const auto wantKey = Trim(key);
  if (wantSection.empty() || wantKey.empty()) return invalid();
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return invalid();
  if (wantSection.find(']') != std::string_view::npos) return invalid();
  if (wantKey.find('=') != std::string_view::npos || wantKey.front() == '[' || IsComment(wantKey))
    return invalid();

  std::lock_guard<std::mutex> hold(lock);
  IniText ini;
  if (!ReadIni(file, ini, &why)) return false;

  std::string newLine = std::string(wantKey) + "=" + std::string(Trim(value));
  auto& lines = ini.lines;
  std::size_t sectionLine = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionOf(lines[i]); name && SameName(*name, wantSection)) {
      sectionLine = i;
      break;
    }
  }
  if (sectionLine == lines.size()) {
    lines.push_back("[" + std::string(wantSection) + "]");
    lines.push_back(std::move(newLine));
  } else {
    // The new key goes after the section's last non-blank line, so the blank lines that part it
    // from the next section stay where they are.
    std::size_t insertAt = sectionLine + 1;
    bool replaced = false;
    for (std::size_t i = sectionLine + 1; i < lines.size(); ++i) {
      if (SectionOf(lines[i])) break;
      if (auto kv = KeyOf(lines[i]); kv && SameName(kv->key, wantKey)) {
        lines[i] = std::move(newLine);
        replaced = true;
        break;
      }
      if (!Trim(lines[i]).empty()) insertAt = i + 1;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(newLine));
  }

  const char* eol = ini.crlf ? "\r\n" : "\n";
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += eol;
  }
  // Writing through a link keeps the link and changes the file it points to.
  auto target = file;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, why))) {
    target = std::filesystem::canonical(file, why);
    if (why) return false;
  }
  why.clear();
  return ReplaceFile(target, text, why);
}

bool CSettingsProfile::WriteInt(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}
