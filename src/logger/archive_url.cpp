#include "logger/archive_url.h"

#include <cstdio>

std::string EscapeFtpUserInfo(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '!' || c == '$' || c == '&' ||
                       c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' || c == ',' || c == ';' ||
                       c == '=';
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

std::string BuildUploadUrl(const CArchiveSettings& settings, const std::string& zipName) {
  return "ftp://" + EscapeFtpUserInfo(settings.ftpUserName) + ":" + EscapeFtpUserInfo(settings.ftpPassword) +
         "@" + settings.ftpHostAddress + "/" + settings.ftpRemotePath + "/" + zipName;
}
