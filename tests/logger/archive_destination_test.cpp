#include "logger/archive_destination.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

TEST(ArchiveDestination, HostSettingChoosesTheProtocol) {
  struct Case {
    const char* setting;
    ArchiveProtocol protocol;
    const char* host;
    const char* basePath;
  };
  const Case cases[] = {
      {"ftp.example.org", ArchiveProtocol::Ftp, "ftp.example.org", ""},
      {"127.0.0.1:2121", ArchiveProtocol::Ftp, "127.0.0.1:2121", ""},
      {"sftp://archive.example.org", ArchiveProtocol::Sftp, "archive.example.org", ""},
      {"SFTP://archive.example.org:2222/", ArchiveProtocol::Sftp, "archive.example.org:2222", ""},
      {"ftps://[::1]:990", ArchiveProtocol::Ftps, "[::1]:990", ""},
      {"ftps://host/base/dir/", ArchiveProtocol::Ftps, "host", "base/dir"},
      // Not a scheme this program speaks: a host name as before, for the upload program to refuse.
      {"sftp:/host", ArchiveProtocol::Ftp, "sftp:/host", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    const ArchiveDestination d = ParseArchiveDestination(c.setting);
    EXPECT_EQ(d.protocol, c.protocol);
    EXPECT_EQ(d.host, c.host);
    EXPECT_EQ(d.basePath, c.basePath);
  }
}

TEST(ArchiveDestination, ShownUrlHasTheUserButNeverThePassword) {
  CArchiveSettings settings;
  settings.ftpUserName = "farm";
  settings.ftpPassword = "s3cr:t@50%";
  settings.ftpRemotePath = "fields/north";
  struct Case {
    const char* host;
    const char* shown;
  };
  const Case cases[] = {
      {"ftp.example.org", "ftp://farm@ftp.example.org/fields/north/A_6010714.zip"},
      {"sftp://h:2222", "sftp://farm@h:2222/fields/north/A_6010714.zip"},
      {"ftps://h/base", "ftps://farm@h/base/fields/north/A_6010714.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    const std::string shown = ShownUploadUrl(settings, ParseArchiveDestination(c.host), "A_6010714.zip");
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(shown.find("s3cr"), std::string::npos);
  }
}

TEST(ArchiveDestination, CurlConfigForSftpStartsInTheLoginFolderUnlessThePathIsAbsolute) {
  CArchiveSettings settings;
  settings.ftpUserName = "farm";
  settings.ftpPassword = "pw \"quoted\" back\\slash";
  settings.ftpRemotePath = "fields/north field";
  ArchiveTools tools;
  tools.insecure = true;  // FTPS only: SFTP always checks the host key
  const std::string config = BuildCurlUploadConfig(settings, tools, ParseArchiveDestination("sftp://h:2222"),
                                                   "A_1.zip", "/logs/A_1.zip");
  EXPECT_NE(config.find("url = \"sftp://h:2222/~/fields/north%20field/A_1.zip\"\n"), std::string::npos)
      << config;
  EXPECT_NE(config.find("user = \"farm:pw \\\"quoted\\\" back\\\\slash\"\n"), std::string::npos) << config;
  EXPECT_NE(config.find("upload-file = \"/logs/A_1.zip\"\n"), std::string::npos) << config;
  EXPECT_NE(config.find("ftp-create-dirs\n"), std::string::npos);
  EXPECT_EQ(config.find("insecure"), std::string::npos);
  EXPECT_EQ(config.find("ssl-reqd"), std::string::npos);
  EXPECT_EQ(config.find("limit-rate"), std::string::npos);

  settings.ftpRemotePath = "/srv/archive";
  settings.limitUploadRate = 1;
  const std::string absolute =
      BuildCurlUploadConfig(settings, tools, ParseArchiveDestination("sftp://h"), "A_1.zip", "/logs/A_1.zip");
  EXPECT_NE(absolute.find("url = \"sftp://h/srv/archive/A_1.zip\"\n"), std::string::npos) << absolute;
  EXPECT_NE(absolute.find("limit-rate = \"5K\"\n"), std::string::npos) << absolute;
}

TEST(ArchiveDestination, CurlConfigForFtpsRequiresTlsAndChecksTheCertificateUnlessInsecure) {
  CArchiveSettings settings;
  settings.ftpUserName = "farm";
  settings.ftpPassword = "pw";
  settings.ftpRemotePath = "fields";
  ArchiveTools tools;
  const ArchiveDestination ftps = ParseArchiveDestination("ftps://h:2121");
  const std::string checked = BuildCurlUploadConfig(settings, tools, ftps, "A_1.zip", "/l/A_1.zip");
  // Explicit TLS on the FTP port: AUTH TLS, then the data connection protected too.
  EXPECT_NE(checked.find("url = \"ftp://h:2121/fields/A_1.zip\"\n"), std::string::npos) << checked;
  EXPECT_NE(checked.find("ssl-reqd\n"), std::string::npos);
  EXPECT_EQ(checked.find("insecure"), std::string::npos);
  tools.insecure = true;
  EXPECT_NE(BuildCurlUploadConfig(settings, tools, ftps, "A_1.zip", "/l/A_1.zip").find("insecure\n"),
            std::string::npos);
}

TEST(ArchiveDestination, CurlConfigValuesAreQuotedSoNoValueStartsAnotherOption) {
  EXPECT_EQ(QuoteCurlConfigValue("plain"), "\"plain\"");
  EXPECT_EQ(QuoteCurlConfigValue("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(QuoteCurlConfigValue("x\ny\tz\r"), "\"x\\ny\\tz\\r\"");
}

TEST(ArchiveDestination, KnownHostsTildeIsTheHomeFolder) {
  const char* home = std::getenv("HOME");
  const std::string saved = home != nullptr ? home : "";
  ::setenv("HOME", "/var/lib/plowview", 1);
  EXPECT_EQ(ExpandKnownHostsPath("~/.ssh/known_hosts"), "/var/lib/plowview/.ssh/known_hosts");
  EXPECT_EQ(ExpandKnownHostsPath("/etc/ssh/ssh_known_hosts"), "/etc/ssh/ssh_known_hosts");
  EXPECT_EQ(ExpandKnownHostsPath("~user/x"), "~user/x");
  if (home != nullptr)
    ::setenv("HOME", saved.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
