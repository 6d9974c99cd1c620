#include "logger/archive_destination.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "logger/archive_process.h"
#include "logger/archive_url.h"

namespace {

// Seconds without a byte moving after which curl gives up; a dead server must not hold the
// archiving worker past the next hour.
constexpr const char* kConnectTimeoutSeconds = "30";
constexpr const char* kStalledSeconds = "60";

bool StartsWithNoCase(std::string_view text, std::string_view head) {
  if (text.size() < head.size()) return false;
  for (std::size_t i = 0; i < head.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != head[i]) return false;
  }
  return true;
}

std::string TrimSlashes(std::string_view text) {
  while (!text.empty() && text.front() == '/') text.remove_prefix(1);
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  return std::string(text);
}

// The remote file's path below the login folder: base path, remote path, zip name.
std::string RemoteFile(const CArchiveSettings& settings, const ArchiveDestination& destination,
                       const std::string& zipName) {
  std::string path;
  for (const std::string& part : {destination.basePath, TrimSlashes(settings.ftpRemotePath)}) {
    if (!part.empty()) path += part + "/";
  }
  return path + zipName;
}

bool RemotePathIsAbsolute(const CArchiveSettings& settings, const ArchiveDestination& destination) {
  return destination.basePath.empty() && !settings.ftpRemotePath.empty() && settings.ftpRemotePath[0] == '/';
}

const char* Scheme(ArchiveProtocol protocol) {
  switch (protocol) {
    case ArchiveProtocol::Sftp:
      return "sftp";
    case ArchiveProtocol::Ftps:
      return "ftps";
    case ArchiveProtocol::Ftp:
      break;
  }
  return "ftp";
}

// Removes a folder and what is in it when it goes out of scope.
class CScratchFolder {
 public:
  CScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/plowview-curl-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~CScratchFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;
  std::string path;
};

}  // namespace

ArchiveDestination ParseArchiveDestination(const std::string& hostSetting) {
  ArchiveDestination destination;
  std::string_view rest = hostSetting;
  if (StartsWithNoCase(rest, "sftp://")) {
    destination.protocol = ArchiveProtocol::Sftp;
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(rest, "ftps://")) {
    destination.protocol = ArchiveProtocol::Ftps;
    rest.remove_prefix(7);
  } else {
    destination.host = hostSetting;
    return destination;
  }
  const std::size_t slash = rest.find('/');
  destination.host = std::string(rest.substr(0, slash));
  if (slash != std::string_view::npos) destination.basePath = TrimSlashes(rest.substr(slash));
  return destination;
}

std::string ShownUploadUrl(const CArchiveSettings& settings, const ArchiveDestination& destination,
                           const std::string& zipName) {
  const std::string user =
      settings.ftpUserName.empty() ? std::string() : EscapeFtpUserInfo(settings.ftpUserName) + "@";
  if (destination.protocol == ArchiveProtocol::Ftp) {
    // The plain FTP URL as the upload program gets it, less the password.
    return "ftp://" + user + destination.host + "/" + settings.ftpRemotePath + "/" + zipName;
  }
  const std::string path = RemoteFile(settings, destination, zipName);
  return std::string(Scheme(destination.protocol)) + "://" + user + destination.host + "/" + path;
}

std::string QuoteCurlConfigValue(const std::string& value) {
  std::string out = "\"";
  for (const char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\v':
        out += "\\v";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string BuildCurlUploadConfig(const CArchiveSettings& settings, const ArchiveTools& tools,
                                  const ArchiveDestination& destination, const std::string& zipName,
                                  const std::string& localPath) {
  const std::string path = PercentEncode(RemoteFile(settings, destination, zipName), "/");
  std::string url;
  if (destination.protocol == ArchiveProtocol::Sftp) {
    // An SFTP path is absolute; "/~/" is the login folder, where FTP starts.
    url = "sftp://" + destination.host + (RemotePathIsAbsolute(settings, destination) ? "/" : "/~/") + path;
  } else {
    url = "ftp://" + destination.host + "/" + path;
  }
  std::string config;
  const auto line = [&config](const std::string& name, const std::string& value) {
    config += name + " = " + QuoteCurlConfigValue(value) + "\n";
  };
  line("url", url);
  line("user", settings.ftpUserName + ":" + settings.ftpPassword);
  line("upload-file", localPath);
  config += "ftp-create-dirs\nsilent\nshow-error\n";
  line("connect-timeout", kConnectTimeoutSeconds);
  line("speed-limit", "1");
  line("speed-time", kStalledSeconds);
  if (settings.limitUploadRate) line("limit-rate", "5K");
  if (destination.protocol == ArchiveProtocol::Ftps) {
    config += "ssl-reqd\n";
    if (tools.insecure) config += "insecure\n";
  }
  return config;
}

std::string ExpandKnownHostsPath(const std::string& setting) {
  if (setting.rfind("~/", 0) != 0) return setting;
  const char* home = std::getenv("HOME");
  std::string folder = home != nullptr ? home : "";
  if (folder.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
      folder = entry->pw_dir;
  }
  return folder + setting.substr(1);
}

int RunSecureUpload(const CArchiveSettings& settings, const ArchiveTools& tools,
                    const ArchiveDestination& destination, const std::string& zipName,
                    const std::string& localPath) {
  const std::string config = BuildCurlUploadConfig(settings, tools, destination, zipName, localPath);
  // "-q" first: no .curlrc of the user's changes what the config says.
  const std::vector<std::string> argv{tools.secureUpload, "-q", "--config", "-"};
  if (destination.protocol != ArchiveProtocol::Sftp) return RunArchiveProgram(argv, config);

  // curl reads the host keys from CURL_HOME/.ssh/known_hosts (it has no option for the file), and
  // takes any key when that file is missing: the configured file is put there, and a missing one
  // stops the upload.
  std::error_code ec;
  const std::filesystem::path knownHosts =
      std::filesystem::absolute(ExpandKnownHostsPath(tools.knownHosts), ec);
  if (ec || ::access(knownHosts.c_str(), R_OK) != 0 || !std::filesystem::is_regular_file(knownHosts, ec))
    return kArchiveProgramNotRun;
  CScratchFolder curlHome;
  if (curlHome.path.empty()) return kArchiveProgramNotRun;
  std::filesystem::create_directory(curlHome.path + "/.ssh", ec);
  if (!ec) std::filesystem::create_symlink(knownHosts, curlHome.path + "/.ssh/known_hosts", ec);
  if (ec) return kArchiveProgramNotRun;
  return RunArchiveProgram(argv, config, {"CURL_HOME=" + curlHome.path});
}
