#include "logger/archive_settings.h"

#include <climits>
#include <cstddef>
#include <string_view>

namespace {

// One row per key, in the file's order: either an int or a string member (or the one bool).
struct KeyRow {
  const char* key;
  int CArchiveSettings::*intMember;
  std::string CArchiveSettings::*stringMember;
};

constexpr KeyRow kKeys[] = {
    {"m_ZipQ0xFiles", &CArchiveSettings::zipQ0xFiles, nullptr},
    {"m_ZipLogFiles", &CArchiveSettings::zipLogFiles, nullptr},
    {"m_ZipKavoFiles", &CArchiveSettings::zipKavoFiles, nullptr},
    {"m_RemoveDatPostZip", &CArchiveSettings::removeDatPostZip, nullptr},
    {"m_RemoveLogPostZip", &CArchiveSettings::removeLogPostZip, nullptr},
    {"m_RemoveKavoPostZip", &CArchiveSettings::removeKavoPostZip, nullptr},
    {"m_FTPZippedFiles", &CArchiveSettings::ftpZippedFiles, nullptr},
    {"m_RemoveZIPPostFTP", &CArchiveSettings::removeZipPostFtp, nullptr},
    {"m_CreateStripChart", &CArchiveSettings::createStripChart, nullptr},
    {"m_GlancePlotScale", nullptr, &CArchiveSettings::glancePlotScale},
    {"m_ZipPDFFiles", &CArchiveSettings::zipPdfFiles, nullptr},
    {"m_RemovePDFPostZip", &CArchiveSettings::removePdfPostZip, nullptr},
    {"m_LimitUploadRate", &CArchiveSettings::limitUploadRate, nullptr},
    {"m_EmailStatus", &CArchiveSettings::emailStatus, nullptr},
    {"m_EmailAddress", nullptr, &CArchiveSettings::emailAddress},
    {"m_FTPRemotePath", nullptr, &CArchiveSettings::ftpRemotePath},
    {"m_FTPHostAddress", nullptr, &CArchiveSettings::ftpHostAddress},
    {"m_FTPUserName", nullptr, &CArchiveSettings::ftpUserName},
    {"m_FTPPassword", nullptr, &CArchiveSettings::ftpPassword},
    {"m_WriteDatFile", &CArchiveSettings::writeDatFile, nullptr},
};

constexpr const char* kVisibleKey = "m_FTPVisable";

}  // namespace

int ParseArchiveInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void CArchiveSettings::Load(const IArchiveProfile& profile) {
  const auto read = [&](const char* key, std::string& out) {
    std::string text = profile.GetString(kSection, key, kAbsent, kReadBufferSize);
    if (text == kAbsent) return false;
    out = std::move(text);
    return true;
  };
  std::string text;
  if (read(kVisibleKey, text)) ftpVisable = ParseArchiveInt(text) != 0;
  for (const KeyRow& row : kKeys) {
    if (!read(row.key, text)) continue;
    if (row.intMember != nullptr)
      this->*row.intMember = ParseArchiveInt(text);
    else
      this->*row.stringMember = text;
  }
}

bool CArchiveSettings::Save(IArchiveProfile& profile) const {
  bool ok = profile.WriteString(kSection, kVisibleKey, ftpVisable ? "1" : "0");
  for (const KeyRow& row : kKeys) {
    const std::string value =
        row.intMember != nullptr ? std::to_string(this->*row.intMember) : this->*row.stringMember;
    ok = profile.WriteString(kSection, row.key, value) && ok;
  }
  return ok;
}
