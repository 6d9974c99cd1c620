#include "logger/archive_chain.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "logger/archive_destination.h"
#include "logger/archive_process.h"
#include "logger/archive_url.h"
#include "logger/log_options.h"

namespace {

constexpr const char* kLogExtension = ".log";
constexpr const char* kManifestExtension = ".manifest";
constexpr const char* kUploadTries = "3";
constexpr const char* kUploadTimeoutTenths = "300";  // tenths of a second

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// printf into a std::string of any length.
template <class... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// Plain FTP with the upload program. It retries for ever and waits minutes on a silent server by
// default: a dead server would hold the worker (and its process) past the next hour's and never
// mail the failure. A few tries with a 30 s time-out keep the worst case within minutes.
int RunFtpUpload(const CArchiveSettings& settings, const ArchiveTools& tools, const std::string& url,
                 const std::string& local) {
  std::vector<std::string> argv{tools.upload, "-B", "-t", kUploadTries, "-T", kUploadTimeoutTenths};
  if (settings.limitUploadRate) {
    argv.push_back("-l");
    argv.push_back("5K");
  }
  // The URL, password and all, goes in on standard input: the process list shows only the file.
  argv.push_back("-i");
  argv.push_back("-");
  argv.push_back(local);
  return RunArchiveProgram(argv, url + "\n");
}

}  // namespace

CArchiveChain::CArchiveChain(CArchiveSettings settingsIn, ArchiveTools toolsIn, ClosedLogFile closedIn,
                             ShowMessage showIn)
    : settings(std::move(settingsIn)),
      tools(std::move(toolsIn)),
      closed(std::move(closedIn)),
      show(std::move(showIn)),
      mailer(settings, tools) {}

bool CArchiveChain::IsEndOfDayFile(const std::string& logPath) {
  const std::string name = std::filesystem::path(logPath).filename().string();
  return EndsWith(name, std::string("00") + kLogExtension);
}

int CArchiveChain::Run() {
  std::string base = closed.logPath;
  if (EndsWith(base, kLogExtension)) base.resize(base.size() - std::char_traits<char>::length(kLogExtension));
  if (IsEndOfDayFile(closed.logPath)) {
    SendStatusMail(
        Format("Logging to: %s", settings.ftpRemotePath.c_str()),
        Format("The station with prefix %s uploading to %s:%s just uploaded the last file of the day",
               closed.prefix.c_str(), settings.ftpHostAddress.c_str(), settings.ftpRemotePath.c_str()));
  }
  ZipHourFiles(base);
  UploadZip(base);
  return 1;
}

bool CArchiveChain::ZipHourFiles(const std::string& base) {
  if (base.empty()) return false;
  struct Member {
    const char* extension;
    bool selected;
    int remove;
    bool zipped = false;
  };
  // The DAT row takes the DAT writer's pair whenever the session wrote it, whatever "Log Q0X" says.
  const bool datRow = settings.zipQ0xFiles != 0 && ((closed.options & kLogQ0x) != 0 || closed.datFiles);
  Member members[] = {
      {".dat", datRow, settings.removeDatPostZip},
      {"_base.cmr", datRow, settings.removeDatPostZip},
      {".log", settings.zipLogFiles != 0, settings.removeLogPostZip},
      {".kavo", settings.zipKavoFiles != 0 && (closed.options & kLogKavo) != 0, settings.removeKavoPostZip},
      {".pdf", settings.zipPdfFiles != 0 && settings.createStripChart != 0, settings.removePdfPostZip},
  };
  const Member& log = members[2];
  Member& pdf = members[4];
  if (!MakePlot(base + kLogExtension)) pdf.selected = false;

  const std::string zipPath = base + ".zip";
  bool anyZipped = false;
  for (Member& member : members) {
    const std::string path = base + member.extension;
    // A file the hour never produced (no raw log opened, say) is nothing to archive, not a failure.
    if (member.selected && Exists(path)) member.zipped = RunZip(zipPath, path);
    anyZipped = anyZipped || member.zipped;
  }
  // The hour's manifest goes into every zip that was made, so the archive carries its own health
  // summary and checksums; it goes with the text log it describes when that is removed.
  const std::string manifestPath = base + kManifestExtension;
  const bool manifestZipped = anyZipped && Exists(manifestPath) && RunZip(zipPath, manifestPath);
  // Only what is safely in the zip is removed: a failed zip leaves its source in place.
  for (const Member& member : members)
    if (member.zipped && member.remove) RemoveQuietly(base + member.extension);
  if (manifestZipped && log.zipped && log.remove) RemoveQuietly(manifestPath);
  return true;
}

bool CArchiveChain::RunZip(const std::string& zipPath, const std::string& filePath) {
  const int code = RunArchiveProgram({tools.zip, "-9", "-j", zipPath, filePath});
  if (code == 0) return true;
  const std::string message =
      Format("Zip Error:\n %s -9 -j %s %s = %d", tools.zip.c_str(), zipPath.c_str(), filePath.c_str(), code);
  SendStatusMail("PLV: Had Zipping Error", message);
  if (show) show(message);
  return false;
}

bool CArchiveChain::MakePlot(const std::string& logPath) {
  if (!settings.createStripChart) return true;
  const int code =
      RunArchiveProgram({tools.plot, "-f", logPath, "-s", settings.glancePlotScale, "-t", "2", "-q", "0"});
  if (code == 0) return true;
  SendStatusMail("PLV: Error during FTP session",
                 Format("Error happend when creating glanceplot plot: %s from site %s", logPath.c_str(),
                        settings.ftpRemotePath.c_str()));
  return false;
}

bool CArchiveChain::UploadZip(const std::string& base) {
  const bool anyZip =
      settings.zipQ0xFiles || settings.zipLogFiles || settings.zipKavoFiles || settings.zipPdfFiles;
  if (!settings.ftpZippedFiles || !anyZip) return true;
  const ArchiveDestination destination = ParseArchiveDestination(settings.ftpHostAddress);
  const std::string local = base + ".zip";

  // The upload program reports success for a local file that is not there; that is a failure here.
  int code = kArchiveProgramNotRun;
  if (Exists(local)) {
    code = destination.protocol == ArchiveProtocol::Ftp
               ? RunFtpUpload(settings, tools, BuildUploadUrl(settings, closed.zipName), local)
               : RunSecureUpload(settings, tools, destination, closed.zipName, local);
  }
  if (code != 0) {
    // The mail shows where the zip was going, never the server's password.
    SendStatusMail("PLV: Error during FTP session",
                   Format("Error happend when sending file to:\n %s \nfrom file:\n %s",
                          ShownUploadUrl(settings, destination, closed.zipName).c_str(), local.c_str()));
    return false;
  }
  if (settings.removeZipPostFtp) RemoveQuietly(local);
  return true;
}
