#pragma once

#include <string>

#include "logger/archive_settings.h"
#include "logger/archive_tools.h"

// Where the archive settings' host ("m_FTPHostAddress") sends each closed hour's zip. A bare host
// (or host:port) is an FTP server, reached with the upload program as always. "sftp://host[:port]"
// and "ftps://host[:port]" (any case) are reached encrypted with curl: SFTP checks the server's host
// key against the known-hosts file, FTPS is FTP with explicit TLS (AUTH TLS, port 21 unless given)
// on the control and the data connection, its certificate checked unless "Insecure" is set.
enum class ArchiveProtocol { Ftp, Sftp, Ftps };

struct ArchiveDestination {
  ArchiveProtocol protocol = ArchiveProtocol::Ftp;
  std::string host;      // host or host:port, as written after the scheme
  std::string basePath;  // a path written after the host ("sftp://host/base"), without its slashes
};

ArchiveDestination ParseArchiveDestination(const std::string& hostSetting);

// The upload's URL as mails and messages show it: the user name but never the password, e.g.
// "sftp://farm@host:2222/fields/north/A_6010714.zip".
std::string ShownUploadUrl(const CArchiveSettings& settings, const ArchiveDestination& destination,
                           const std::string& zipName);

// The curl config that uploads `localPath` as `zipName` to an SFTP or FTPS destination: URL,
// credentials and options, read by curl from its standard input so that none of it shows in the
// process list. Remote folders are created as needed; a remote path without a leading '/' is
// taken from the login folder, as FTP does.
std::string BuildCurlUploadConfig(const CArchiveSettings& settings, const ArchiveTools& tools,
                                  const ArchiveDestination& destination, const std::string& zipName,
                                  const std::string& localPath);

// A value for a curl config line: in double quotes, with '\\', '"' and control characters escaped.
std::string QuoteCurlConfigValue(const std::string& value);

// The known-hosts file the settings name, "~/" taken from $HOME (else the user's home folder).
std::string ExpandKnownHostsPath(const std::string& setting);

// Uploads with curl (tools.secureUpload) and waits for it. SFTP runs only when the known-hosts file
// can be read: without one curl would take any host key. Returns curl's exit code, or
// kArchiveProgramNotRun when it could not be run (no known-hosts file, no temporary folder).
// Callable from any thread.
int RunSecureUpload(const CArchiveSettings& settings, const ArchiveTools& tools,
                    const ArchiveDestination& destination, const std::string& zipName,
                    const std::string& localPath);
