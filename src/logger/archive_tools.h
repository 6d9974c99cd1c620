#pragma once

#include <string>

#include "logger/archive_profile.h"

// The external programs of the archiving chain and the mail deployment, section "ArchiveTools".
// A program name without a '/' is looked for beside the running program first, then on PATH.
struct ArchiveTools {
  static constexpr const char* kSection = "ArchiveTools";

  std::string zip = "zip";                        // "Zip"
  std::string upload = "wput";                    // "Upload"
  std::string plot = "plowplot";                  // "Plot"
  std::string mail = "plowmail";                  // "Mail"
  std::string mailRelay = "localhost";            // "MailRelay": host or host:port of the SMTP relay
  std::string mailFrom = "plowview@localhost";    // "MailFrom": the sender address
  std::string secureUpload = "curl";              // "SecureUpload": the program for sftp:// and ftps://
  std::string knownHosts = "~/.ssh/known_hosts";  // "KnownHosts": SFTP host keys ("~/" is $HOME)
  bool insecure = false;                          // "Insecure": FTPS accepts any server certificate
};

// Reads the section; an absent or empty key keeps its default.
ArchiveTools LoadArchiveTools(const IArchiveProfile& profile);
