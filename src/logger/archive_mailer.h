#pragma once

#include <string>

#include "logger/archive_settings.h"
#include "logger/archive_tools.h"

// Sends the archiving chain's status messages with the mail program of "ArchiveTools":
//   MAIL -s RELAY -t ADDRESS -f SENDER -h -a SUBJECT -b BODY
// A body that holds the FTP password goes to the mailer on its standard input ("-b -") instead,
// so the password never shows in the process list. Works on its own copies; any thread.
class CArchiveMailer {
 public:
  CArchiveMailer(CArchiveSettings settings, ArchiveTools tools);

  // True without sending when "m_EmailStatus" is off; false for a recipient without '@' or when
  // the mailer fails. The subject gets the "PLV: " tag unless it already starts with it.
  bool SendStatusMail(const std::string& subject, const std::string& body) const;

  // The subject as it is sent.
  static std::string TaggedSubject(const std::string& subject);

 private:
  bool HoldsSecret(const std::string& body) const;

  CArchiveSettings settings;
  ArchiveTools tools;
};
