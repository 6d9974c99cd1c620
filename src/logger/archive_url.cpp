#include "logger/archive_url.h"

#include <cstdio>

std::string PercentEncode(std::string_view text, std::string_view alsoPlain) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' ||
                       alsoPlain.find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      out += hex;
    }
  }
  return out;
}

// The sub-delimiters stay as typed: they do not end the user information.
std::string EscapeFtpUserInfo(const std::string& text) {
  return PercentEncode(text, "!$&'()*+,;=");
}

std::string BuildUploadUrl(const CArchiveSettings& settings, const std::string& zipName) {
  return "ftp://" + EscapeFtpUserInfo(settings.ftpUserName) + ":" + EscapeFtpUserInfo(settings.ftpPassword) +
         "@" + settings.ftpHostAddress + "/" + settings.ftpRemotePath + "/" + zipName;
}
