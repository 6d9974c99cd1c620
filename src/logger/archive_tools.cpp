#include "logger/archive_tools.h"

#include "logger/archive_settings.h"

ArchiveTools LoadArchiveTools(const IArchiveProfile& profile) {
  ArchiveTools tools;
  const auto read = [&](const char* key, std::string& member) {
    std::string text = profile.GetString(ArchiveTools::kSection, key, CArchiveSettings::kAbsent,
                                         CArchiveSettings::kReadBufferSize);
    if (text != CArchiveSettings::kAbsent && !text.empty()) member = std::move(text);
  };
  read("Zip", tools.zip);
  read("Upload", tools.upload);
  read("Plot", tools.plot);
  read("Mail", tools.mail);
  read("MailRelay", tools.mailRelay);
  read("MailFrom", tools.mailFrom);
  read("SecureUpload", tools.secureUpload);
  read("KnownHosts", tools.knownHosts);
  std::string insecure;
  read("Insecure", insecure);
  tools.insecure = ParseArchiveInt(insecure) != 0;
  return tools;
}
