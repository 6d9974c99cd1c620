#pragma once

#include <functional>
#include <string>

#include "logger/archive_mailer.h"
#include "logger/archive_settings.h"
#include "logger/archive_tools.h"
#include "logger/log_archiver.h"

// The archiving of one closed hour, B being the closed log path without ".log": the end-of-day
// notice, then B.dat, B_base.cmr, B.log, B.kavo and the plot B.pdf zipped into B.zip as the
// settings and the session's options choose (the DAT pair by the DAT row when the session wrote
// it), with the hour's manifest B.manifest added to any zip made (and removed with B.log), the zipped sources
// removed as configured, B.zip uploaded with the upload program and removed after it as configured. Every
// failing program is reported by mail; a zip failure is also shown. No failure stops the chain.
//
// Runs on an archiving worker with its own copies of everything; `show` is called on that worker
// and may block it until the user has read the message.
class CArchiveChain {
 public:
  using ShowMessage = std::function<void(const std::string& text)>;

  CArchiveChain(CArchiveSettings settings, ArchiveTools tools, ClosedLogFile closed, ShowMessage show);

  // The whole routine for the closed file; returns 1.
  int Run();

  bool ZipHourFiles(const std::string& base);
  bool RunZip(const std::string& zipPath, const std::string& filePath);
  bool MakePlot(const std::string& logPath);
  bool UploadZip(const std::string& base);
  bool SendStatusMail(const std::string& subject, const std::string& body) const {
    return mailer.SendStatusMail(subject, body);
  }

  // True for the file of GPS hour 00: its name (not its folder) ends in "00.log".
  static bool IsEndOfDayFile(const std::string& logPath);

 private:
  CArchiveSettings settings;
  ArchiveTools tools;
  ClosedLogFile closed;
  ShowMessage show;
  CArchiveMailer mailer;
};
