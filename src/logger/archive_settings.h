#pragma once

#include <string>

#include "logger/archive_profile.h"

// The archive settings, section "PlowviewArchiveSettings" of the settings file: what each closed
// hour's archiving zips, removes, uploads, plots and mails. The logging options dialog edits them;
// every archiving worker loads them afresh, so a change applies from the next closed hour.
// Members start at their defaults; Load overwrites only the keys present in the file.
class CArchiveSettings {
 public:
  static constexpr const char* kSection = "PlowviewArchiveSettings";
  // The read default that marks a key as absent.
  static constexpr const char* kAbsent = "xxx";
  // Every key is read into a buffer of this size: at most 255 characters.
  static constexpr std::size_t kReadBufferSize = 256;

  void Load(const IArchiveProfile& profile);
  // Writes every key in the file's order, integers as decimal text; false when any write failed.
  bool Save(IArchiveProfile& profile) const;

  // Stored settings, in the order the file is read and written. Key names in the comments.
  bool ftpVisable = false;      // "m_FTPVisable": the FTP and mail part of the options dialog shows
  int zipQ0xFiles = 1;          // "m_ZipQ0xFiles"
  int zipLogFiles = 1;          // "m_ZipLogFiles"
  int zipKavoFiles = 1;         // "m_ZipKavoFiles"
  int removeDatPostZip = 1;     // "m_RemoveDatPostZip"
  int removeLogPostZip = 1;     // "m_RemoveLogPostZip"
  int removeKavoPostZip = 1;    // "m_RemoveKavoPostZip"
  int ftpZippedFiles = 0;       // "m_FTPZippedFiles"
  int removeZipPostFtp = 0;     // "m_RemoveZIPPostFTP"
  int createStripChart = 0;     // "m_CreateStripChart"
  std::string glancePlotScale;  // "m_GlancePlotScale": empty for an automatic scale
  int zipPdfFiles = 0;          // "m_ZipPDFFiles"
  int removePdfPostZip = 0;     // "m_RemovePDFPostZip"
  int limitUploadRate = 0;      // "m_LimitUploadRate"
  int emailStatus = 0;          // "m_EmailStatus"
  std::string emailAddress;     // "m_EmailAddress"
  std::string ftpRemotePath;    // "m_FTPRemotePath"
  std::string ftpHostAddress;   // "m_FTPHostAddress": host or host:port
  std::string ftpUserName;      // "m_FTPUserName"
  std::string ftpPassword;      // "m_FTPPassword"
  int writeDatFile = 0;         // "m_WriteDatFile": a file session writes a DAT file beside each text log
};

// Reads a settings text as a decimal number the way the settings always have: blanks, an optional
// sign, digits; text without digits gives 0; values beyond int are clamped.
int ParseArchiveInt(std::string_view text);
