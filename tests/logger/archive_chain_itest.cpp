// The archiving chain with the real programs: zip and unzip, wput against a pyftpdlib server and
// plowmail against an aiosmtpd server, both on loopback ports the tests start; stand-in scripts
// where a failure or a record of the call is wanted.

#include "logger/archive_chain.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "archive_peers.h"
#include "archive_test_support.h"
#include "logger/log_archiver.h"
#include "logger/log_options.h"
#include "support/prompt_recorder.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using namespace archivetest;

std::string ZipMember(const std::string& zip, const std::string& name) {
  QProcess unzip;
  unzip.start("unzip", {"-p", QString::fromStdString(zip), QString::fromStdString(name)});
  if (!unzip.waitForFinished(10000)) return {};
  return unzip.readAllStandardOutput().toStdString();
}

// Each call of a recorder script: its arguments, one per element, and its standard input.
struct RecordedCall {
  std::vector<std::string> args;
  std::string input;
};

std::vector<RecordedCall> ReadCalls(const std::string& record) {
  std::vector<RecordedCall> calls;
  const std::string text = ReadWholeFile(record);
  std::size_t at = 0;
  while ((at = text.find("<<CALL>>\n", at)) != std::string::npos) {
    at += 9;
    RecordedCall call;
    const std::size_t stdinAt = text.find("<<STDIN>>\n", at);
    const std::size_t endAt = text.find("<<END>>\n", stdinAt);
    if (stdinAt == std::string::npos || endAt == std::string::npos) break;
    const std::string args = text.substr(at, stdinAt - at);
    std::size_t a = 0;
    while ((a = args.find("<<ARG>>", a)) != std::string::npos) {
      a += 7;
      const std::size_t next = args.find("<<ARG>>", a);
      std::string value = args.substr(a, (next == std::string::npos ? args.size() : next) - a);
      if (!value.empty() && value.back() == '\n') value.pop_back();
      call.args.push_back(value);
      a = next == std::string::npos ? args.size() : next;
    }
    call.input = text.substr(stdinAt + 10, endAt - stdinAt - 10);
    calls.push_back(call);
    at = endAt;
  }
  return calls;
}

std::string ArgAfter(const RecordedCall& call, const std::string& option) {
  for (std::size_t i = 0; i + 1 < call.args.size(); ++i)
    if (call.args[i] == option) return call.args[i + 1];
  return "<none>";
}

class ArchiveChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logs = dir.Path() / "logs";
    fs::create_directories(logs);
    base = (logs / "FARM6120914").string();
    WriteFile(base + ".log", "* log text of the hour\n");
    WriteFile(base + ".dat", std::string("\x01\x02\x00\x03 dat bytes", 14));
    WriteFile(base + "_base.cmr", std::string("\x93 cmr", 5));
    WriteFile(base + ".kavo", std::string("\x10\x41\x00\x10\x03 kavo", 10));
    mailRecord = dir / "mail-calls.txt";
    uploadRecord = dir / "upload-calls.txt";
    const char* recorder =
        "{ echo '<<CALL>>'; for a in \"$@\"; do printf '<<ARG>>%s\\n' \"$a\"; done; "
        "echo '<<STDIN>>'; cat; echo '<<END>>'; } >> '";
    tools.mail = WriteScript(dir.Path() / "mail-recorder", recorder + mailRecord + "'\n");
    tools.upload = WriteScript(dir.Path() / "upload-recorder", recorder + uploadRecord + "'\n");
    tools.plot = ProgramPath("plowplot");
    tools.mailRelay = "127.0.0.1:1";
    tools.mailFrom = "plowview@example.org";
    settings.emailStatus = 1;
    settings.emailAddress = "ops@example.org";
    settings.ftpRemotePath = "fields/north";
  }

  CArchiveChain Chain(LogOptions options, bool datFiles = false) {
    return CArchiveChain(settings, tools,
                         ClosedLogFile{base + ".log", "FARM6120914.zip", "FARM", options, datFiles},
                         [this](const std::string& text) { shown.push_back(text); });
  }
  bool Has(const char* extension) const { return fs::exists(base + extension); }

  CTempDir dir;
  fs::path logs;
  std::string base;
  std::string mailRecord, uploadRecord;
  CArchiveSettings settings;
  ArchiveTools tools;
  std::vector<std::string> shown;
};

TEST_F(ArchiveChainTest, Selection_FollowsSettingsAndSessionOptions) {
  struct Case {
    const char* name;
    LogOptions options;
    bool datFiles;  // the session wrote the DAT pair
    int zipQ0x, zipLog, zipKavo, removeAll;
    std::vector<std::string> zipped;
    std::vector<const char*> left;  // source files still there afterwards
  };
  const std::string dat = "FARM6120914.dat", cmr = "FARM6120914_base.cmr", log = "FARM6120914.log",
                    kavo = "FARM6120914.kavo";
  const Case cases[] = {
      {"no raw options: only the log", 0, false, 1, 1, 1, 1, {log}, {".dat", "_base.cmr", ".kavo"}},
      {"both raw options", kLogQ0x | kLogKavo, false, 1, 1, 1, 1, {dat, cmr, log, kavo}, {}},
      {"raw log without its zip option", kLogKavo, false, 0, 1, 0, 1, {log}, {".dat", "_base.cmr", ".kavo"}},
      {"kavo option without 0x4000", kLogQ0x, false, 1, 0, 1, 1, {dat, cmr}, {".log", ".kavo"}},
      {"nothing removed",
       kLogQ0x | kLogKavo,
       false,
       1,
       1,
       1,
       0,
       {dat, cmr, log, kavo},
       {".dat", "_base.cmr", ".log", ".kavo"}},
      // The DAT writer's pair follows the DAT row whatever "Log Q0X" says.
      {"DAT file written, Q0x off", 0, true, 1, 1, 1, 1, {dat, cmr, log}, {".kavo"}},
      {"DAT file written, DAT row off", 0, true, 0, 1, 1, 1, {log}, {".dat", "_base.cmr", ".kavo"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fs::remove(base + ".zip");
    settings.zipQ0xFiles = c.zipQ0x;
    settings.zipLogFiles = c.zipLog;
    settings.zipKavoFiles = c.zipKavo;
    settings.removeDatPostZip = settings.removeLogPostZip = settings.removeKavoPostZip = c.removeAll;
    const std::string kavoBytes = ReadWholeFile(base + ".kavo");
    const std::string datBytes = ReadWholeFile(base + ".dat");
    EXPECT_TRUE(Chain(c.options, c.datFiles).ZipHourFiles(base));
    EXPECT_EQ(c.zipped, ZipListing(base + ".zip"));
    for (const char* extension : {".dat", "_base.cmr", ".log", ".kavo"}) {
      const bool kept = std::find_if(c.left.begin(), c.left.end(), [&](const char* e) {
                          return std::string(e) == extension;
                        }) != c.left.end();
      EXPECT_EQ(kept, Has(extension)) << extension;
    }
    if ((c.options & kLogKavo) && c.zipKavo) {
      EXPECT_EQ(kavoBytes, ZipMember(base + ".zip", kavo));
    }
    if (((c.options & kLogQ0x) || c.datFiles) && c.zipQ0x) {
      EXPECT_EQ(datBytes, ZipMember(base + ".zip", dat));
    }
    EXPECT_TRUE(shown.empty());
  }
}

TEST_F(ArchiveChainTest, Plot_ZippedWhenDrawnDroppedWhenThePlotterFails) {
  settings.createStripChart = 1;
  settings.zipPdfFiles = 1;
  settings.removePdfPostZip = 0;
  EXPECT_TRUE(Chain(kLogKavo).ZipHourFiles(base));
  EXPECT_EQ((std::vector<std::string>{"FARM6120914.log", "FARM6120914.kavo", "FARM6120914.pdf"}),
            ZipListing(base + ".zip"));
  EXPECT_TRUE(Has(".pdf"));
  EXPECT_EQ("%PDF", ZipMember(base + ".zip", "FARM6120914.pdf").substr(0, 4));

  SetUp();
  fs::remove(base + ".zip");
  fs::remove(base + ".pdf");
  tools.plot = WriteScript(dir.Path() / "plot-fails", "exit 3\n");
  settings.removeLogPostZip = 0;
  EXPECT_TRUE(Chain(kLogKavo).ZipHourFiles(base));
  EXPECT_EQ((std::vector<std::string>{"FARM6120914.log", "FARM6120914.kavo"}), ZipListing(base + ".zip"));
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("PLV: Error during FTP session", ArgAfter(calls[0], "-a"));
  EXPECT_EQ("Error happend when creating glanceplot plot: " + base + ".log from site fields/north",
            ArgAfter(calls[0], "-b"));
}

TEST_F(ArchiveChainTest, EveryZipOptionOff_NoZipAndNoUploadEvenWithFtpOn) {
  settings.zipQ0xFiles = settings.zipLogFiles = settings.zipKavoFiles = settings.zipPdfFiles = 0;
  settings.ftpZippedFiles = 1;
  settings.ftpHostAddress = "127.0.0.1:1";
  EXPECT_EQ(1, Chain(kLogQ0x | kLogKavo).Run());
  EXPECT_FALSE(Has(".zip"));
  EXPECT_TRUE(Has(".log") && Has(".dat") && Has(".kavo"));
  EXPECT_FALSE(fs::exists(uploadRecord));
  EXPECT_FALSE(fs::exists(mailRecord));
}

TEST_F(ArchiveChainTest, ZipFailure_MailedShownAndSourceKept) {
  const std::string failing = WriteScript(dir.Path() / "zip-fails", "exit 12\n");
  tools.zip = failing;
  EXPECT_TRUE(Chain(0).ZipHourFiles(base));
  const std::string message = "Zip Error:\n " + failing + " -9 -j " + base + ".zip " + base + ".log = 12";
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(message, shown[0]);
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(
      (std::vector<std::string>{"-s", "127.0.0.1:1", "-t", "ops@example.org", "-f", "plowview@example.org",
                                "-h", "-a", "PLV: Had Zipping Error", "-b", message}),
      calls[0].args);
  // The file could not be put into the zip, so it is not removed.
  EXPECT_TRUE(Has(".log"));
}

TEST_F(ArchiveChainTest, Mail_OffOrAddressWithoutAtSendsNothing) {
  settings.emailStatus = 0;
  EXPECT_TRUE(Chain(0).SendStatusMail("PLV: Had Zipping Error", "body"));
  settings.emailStatus = 1;
  settings.emailAddress = "ops.example.org";
  EXPECT_FALSE(Chain(0).SendStatusMail("PLV: Had Zipping Error", "body"));
  EXPECT_FALSE(fs::exists(mailRecord));
  settings.emailAddress = "ops@example.org";
  EXPECT_TRUE(Chain(0).SendStatusMail("Logging to: x", "body"));
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("PLV: Logging to: x", ArgAfter(calls[0], "-a"));
}

TEST_F(ArchiveChainTest, EndOfDay_TheHourZeroFileSendsTheNoticeBeforeZipping) {
  EXPECT_TRUE(CArchiveChain::IsEndOfDayFile("/logs/FARM6120900.log"));
  EXPECT_FALSE(CArchiveChain::IsEndOfDayFile("/logs/FARM6120914.log"));
  EXPECT_FALSE(CArchiveChain::IsEndOfDayFile("/data/v1.00.logs/FARM6120914.log"));
  EXPECT_FALSE(CArchiveChain::IsEndOfDayFile("/logs/FARM6120900.log.old"));

  settings.ftpHostAddress = "ftp.example.org";
  const std::string midnight = (logs / "FARM6120900").string();
  WriteFile(midnight + ".log", "last\n");
  CArchiveChain chain(settings, tools, ClosedLogFile{midnight + ".log", "FARM6120900.zip", "FARM", 0}, {});
  chain.Run();
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("PLV: Logging to: fields/north", ArgAfter(calls[0], "-a"));
  EXPECT_EQ(
      "The station with prefix FARM uploading to ftp.example.org:fields/north just uploaded the last file of "
      "the day",
      ArgAfter(calls[0], "-b"));
  EXPECT_EQ((std::vector<std::string>{"FARM6120900.log"}), ZipListing(midnight + ".zip"));
}

class ArchiveUploadTest : public ArchiveChainTest {
 protected:
  void SetUp() override {
    ArchiveChainTest::SetUp();
    fs::create_directories(dir.Path() / "ftp-root");
    tools.upload = "wput";
    settings.ftpZippedFiles = 1;
    settings.ftpUserName = "farm";
    settings.ftpPassword = kPassword;
    settings.ftpRemotePath = "fields/north";
  }
  static constexpr const char* kPassword = "s3cr:t@50%";
};

TEST_F(ArchiveUploadTest, Wput_DeliversTheZipByteIdenticalAndRemovesItWhenAsked) {
  CPythonPeer ftp(dir, "ftp_peer.py", kFtpPeer,
                  {QString::fromStdString((dir.Path() / "ftp-root").string()), "farm", kPassword});
  ASSERT_NE(0, ftp.port) << ftp.Problem();
  settings.ftpHostAddress = ftp.Address();
  settings.removeZipPostFtp = 0;
  ASSERT_TRUE(Chain(kLogKavo).ZipHourFiles(base));
  const std::string zipped = ReadWholeFile(base + ".zip");
  ASSERT_FALSE(zipped.empty());
  EXPECT_TRUE(Chain(kLogKavo).UploadZip(base));
  const fs::path arrived = dir.Path() / "ftp-root" / "fields" / "north" / "FARM6120914.zip";
  EXPECT_EQ(zipped, ReadWholeFile(arrived));
  EXPECT_TRUE(Has(".zip"));
  EXPECT_FALSE(fs::exists(mailRecord));

  fs::remove(arrived);
  settings.removeZipPostFtp = 1;
  settings.limitUploadRate = 1;
  EXPECT_TRUE(Chain(kLogKavo).UploadZip(base));
  EXPECT_EQ(zipped, ReadWholeFile(arrived));
  EXPECT_FALSE(Has(".zip"));
}

// The mail goes to a mailbox, not to the server: it names the server and the user but never
// carries the password.
TEST_F(ArchiveUploadTest, RefusedLogin_MailsTheUrlWithoutThePasswordAndKeepsTheZip) {
  CPythonPeer ftp(dir, "ftp_peer.py", kFtpPeer,
                  {QString::fromStdString((dir.Path() / "ftp-root").string()), "farm", "other"});
  ASSERT_NE(0, ftp.port) << ftp.Problem();
  settings.ftpHostAddress = ftp.Address();
  settings.removeZipPostFtp = 1;
  ASSERT_TRUE(Chain(0).ZipHourFiles(base));
  EXPECT_FALSE(Chain(0).UploadZip(base));
  EXPECT_TRUE(Has(".zip"));
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  const std::string url = "ftp://farm@" + ftp.Address() + "/fields/north/FARM6120914.zip";
  EXPECT_EQ("PLV: Error during FTP session", ArgAfter(calls[0], "-a"));
  EXPECT_EQ("Error happend when sending file to:\n " + url + " \nfrom file:\n " + base + ".zip",
            ArgAfter(calls[0], "-b"));
  for (const std::string& arg : calls[0].args) EXPECT_EQ(std::string::npos, arg.find("s3cr")) << arg;
  EXPECT_EQ(std::string::npos, calls[0].input.find("s3cr"));
}

TEST_F(ArchiveUploadTest, MissingZip_IsAnUploadFailureNotASuccess) {
  settings.ftpHostAddress = "127.0.0.1:1";
  EXPECT_FALSE(Chain(0).UploadZip(base));
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("PLV: Error during FTP session", ArgAfter(calls[0], "-a"));
}

TEST_F(ArchiveChainTest, Upload_CommandLineHasBoundedTriesAndTheUrlOnlyOnStandardInput) {
  settings.ftpZippedFiles = 1;
  settings.limitUploadRate = 1;
  settings.ftpHostAddress = "ftp.example.org";
  settings.ftpUserName = "farm";
  settings.ftpPassword = "pw";
  WriteFile(base + ".zip", "zip bytes");
  EXPECT_TRUE(Chain(0).UploadZip(base));
  const auto calls = ReadCalls(uploadRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ((std::vector<std::string>{"-B", "-t", "3", "-T", "300", "-l", "5K", "-i", "-", base + ".zip"}),
            calls[0].args);
  EXPECT_EQ("ftp://farm:pw@ftp.example.org/fields/north/FARM6120914.zip\n", calls[0].input);
}

// The upload program on its own retries a refused connection for ever: the worker would never end
// and the failure never be mailed.
TEST_F(ArchiveUploadTest, UnreachableServer_FailsWithinMinutesAndMails) {
  settings.ftpHostAddress = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  WriteFile(base + ".zip", "zip bytes");
  QElapsedTimer timer;
  timer.start();
  EXPECT_FALSE(Chain(0).UploadZip(base));
  EXPECT_LT(timer.elapsed(), 120000);
  EXPECT_TRUE(Has(".zip"));
  const auto calls = ReadCalls(mailRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("PLV: Error during FTP session", ArgAfter(calls[0], "-a"));
}

// SFTP and FTPS through curl against loopback servers the tests start: asyncssh with a fresh host
// key, pyftpdlib's TLS handler with a self-signed certificate.
class SecureUploadTest : public ArchiveUploadTest {
 protected:
  void SetUp() override {
    ArchiveUploadTest::SetUp();
    tools.upload = WriteScript(dir.Path() / "wput-must-not-run", "exit 99\n");
    tools.knownHosts = (dir / "known_hosts");
    ASSERT_TRUE(Chain(kLogKavo).ZipHourFiles(base));
    zipped = ReadWholeFile(base + ".zip");
    ASSERT_FALSE(zipped.empty());
  }
  std::unique_ptr<CPythonPeer> StartSftp(const std::string& password) {
    auto peer = std::make_unique<CPythonPeer>(
        dir, "sftp_peer.py", kSftpPeer,
        QStringList{QString::fromStdString((dir.Path() / "ftp-root").string()), "farm",
                    QString::fromStdString(password), QString::fromStdString(dir / "known_hosts")});
    settings.ftpHostAddress = "sftp://" + peer->Address();
    return peer;
  }
  std::unique_ptr<CPythonPeer> StartFtps() {
    const std::string pem = dir / "server.pem";
    if (!MakeSelfSignedPem(pem)) return nullptr;
    auto peer =
        std::make_unique<CPythonPeer>(dir, "ftps_peer.py", kFtpsPeer,
                                      QStringList{QString::fromStdString((dir.Path() / "ftp-root").string()),
                                                  "farm", kPassword, QString::fromStdString(pem)});
    settings.ftpHostAddress = "ftps://" + peer->Address();
    return peer;
  }
  fs::path Arrived() const { return dir.Path() / "ftp-root" / "fields" / "north" / "FARM6120914.zip"; }
  // The one failure mail, its body checked for the shown URL and the absent password.
  void ExpectOneFailureMail(const std::string& shownUrl) {
    const auto calls = ReadCalls(mailRecord);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("PLV: Error during FTP session", ArgAfter(calls[0], "-a"));
    EXPECT_EQ("Error happend when sending file to:\n " + shownUrl + " \nfrom file:\n " + base + ".zip",
              ArgAfter(calls[0], "-b"));
    for (const std::string& arg : calls[0].args) EXPECT_EQ(std::string::npos, arg.find("s3cr")) << arg;
  }
  std::string zipped;
};

TEST_F(SecureUploadTest, Sftp_DeliversTheZipByteIdenticalIntoTheLoginFolder) {
  const auto sftp = StartSftp(kPassword);
  ASSERT_NE(0, sftp->port) << sftp->Problem();
  settings.removeZipPostFtp = 1;
  EXPECT_TRUE(Chain(kLogKavo).UploadZip(base));
  EXPECT_EQ(zipped, ReadWholeFile(Arrived()));
  EXPECT_FALSE(Has(".zip"));
  EXPECT_FALSE(fs::exists(mailRecord));
}

TEST_F(SecureUploadTest, Sftp_WrongPasswordIsMailedWithoutIt) {
  const auto sftp = StartSftp("other");
  ASSERT_NE(0, sftp->port) << sftp->Problem();
  EXPECT_FALSE(Chain(kLogKavo).UploadZip(base));
  EXPECT_FALSE(fs::exists(Arrived()));
  EXPECT_TRUE(Has(".zip"));
  ExpectOneFailureMail("sftp://farm@" + sftp->Address() + "/fields/north/FARM6120914.zip");
}

TEST_F(SecureUploadTest, Sftp_UnknownOrMissingHostKeyIsRefused) {
  const auto sftp = StartSftp(kPassword);
  ASSERT_NE(0, sftp->port) << sftp->Problem();
  // Another server's key for this address: a man in the middle, as far as the station knows.
  WriteFile(dir / "other_known_hosts",
            "[127.0.0.1]:" + std::to_string(sftp->port) +
                " ecdsa-sha2-nistp256 "
                "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBD/DFfXU3MhNzlU4X8mulPGWOk"
                "AJgoFksfrZSXbXuZ3lnvGYVkyvwDp9YNRtMHIj1K4nJf2E90VDx7nHkIdAIKE=\n");
  tools.knownHosts = dir / "other_known_hosts";
  EXPECT_FALSE(Chain(kLogKavo).UploadZip(base));
  // No file at all: curl on its own would then take any key.
  tools.knownHosts = dir / "no_known_hosts";
  EXPECT_FALSE(Chain(kLogKavo).UploadZip(base));
  EXPECT_FALSE(fs::exists(Arrived()));
  EXPECT_EQ(2u, ReadCalls(mailRecord).size());
}

TEST_F(SecureUploadTest, Ftps_DeliversWithInsecureAndRefusesASelfSignedCertificateWithout) {
  const auto ftps = StartFtps();
  ASSERT_TRUE(ftps != nullptr);
  ASSERT_NE(0, ftps->port) << ftps->Problem();
  EXPECT_FALSE(Chain(kLogKavo).UploadZip(base));
  EXPECT_FALSE(fs::exists(Arrived()));
  ExpectOneFailureMail("ftps://farm@" + ftps->Address() + "/fields/north/FARM6120914.zip");

  tools.insecure = true;
  EXPECT_TRUE(Chain(kLogKavo).UploadZip(base));
  EXPECT_EQ(zipped, ReadWholeFile(Arrived()));
}

TEST_F(ArchiveChainTest, SecureUpload_CurlGetsEverythingOnStandardInput) {
  settings.ftpZippedFiles = 1;
  settings.ftpHostAddress = "ftps://ftp.example.org";
  settings.ftpUserName = "farm";
  settings.ftpPassword = "pw-secret";
  tools.secureUpload = tools.upload;  // the recorder
  WriteFile(base + ".zip", "zip bytes");
  EXPECT_TRUE(Chain(0).UploadZip(base));
  const auto calls = ReadCalls(uploadRecord);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ((std::vector<std::string>{"-q", "--config", "-"}), calls[0].args);
  EXPECT_NE(std::string::npos, calls[0].input.find("user = \"farm:pw-secret\"\n")) << calls[0].input;
  EXPECT_NE(std::string::npos,
            calls[0].input.find("url = \"ftp://ftp.example.org/fields/north/FARM6120914.zip\"\n"))
      << calls[0].input;
}

TEST_F(ArchiveChainTest, Plowmail_DeliversTheChainsMailToTheRelay) {
  CPythonPeer smtp(dir, "smtp_peer.py", kSmtpPeer, {QString::fromStdString(dir / "mailbox.txt")});
  ASSERT_NE(0, smtp.port) << smtp.Problem();
  tools.mail = ProgramPath("plowmail");
  tools.mailRelay = smtp.Address();
  tools.zip = WriteScript(dir.Path() / "zip-fails", "exit 18\n");
  settings.ftpPassword = "pw-in-body";
  Chain(0).ZipHourFiles(base);
  // A body holding the password travels on the mailer's standard input.
  EXPECT_TRUE(Chain(0).SendStatusMail("Secret", "url ftp://u:pw-in-body@h/p"));
  const std::string mail = ReadWholeFile(dir / "mailbox.txt");
  EXPECT_NE(std::string::npos, mail.find("\r\nSubject: PLV: Had Zipping Error\r\n")) << mail;
  EXPECT_NE(std::string::npos, mail.find("\r\n\r\nZip Error:\r\n " + tools.zip + " -9 -j " + base + ".zip " +
                                         base + ".log = 18\r\n<<END>>"))
      << mail;
  EXPECT_NE(std::string::npos, mail.find("\r\nSubject: PLV: Secret\r\n")) << mail;
  EXPECT_NE(std::string::npos, mail.find("\r\n\r\nurl ftp://u:pw-in-body@h/p\r\n<<END>>")) << mail;
  ASSERT_EQ(1u, shown.size());
}

TEST(LogArchiverTest, WorkersReadTheProfileAfreshAndExitWaitsForThem) {
  CTempDir dir;
  CMapProfile profile;
  CPromptRecorder prompts;
  const std::string record = dir / "mail.txt";
  const std::string mailer = WriteScript(dir.Path() / "mail", "printf '%s|' \"$@\" >> '" + record + "'\n");
  const std::string slowZip = WriteScript(dir.Path() / "zip", "sleep 1; exit 4\n");
  profile.Set("ArchiveTools", "Mail", mailer);
  profile.Set("ArchiveTools", "Zip", slowZip);
  profile.Set("PlowviewArchiveSettings", "m_EmailStatus", "1");
  profile.Set("PlowviewArchiveSettings", "m_EmailAddress", "ops@example.org");
  profile.Set("PlowviewArchiveSettings", "m_FTPRemotePath", "fields/north");
  WriteFile(dir.Path() / "FARM6120914.log", "x\n");

  CLogArchiver archiver(profile, prompts);
  StartArchiveWorker(archiver.Function(),
                     ClosedLogFile{dir / "FARM6120914.log", "FARM6120914.zip", "FARM", 0});
  const auto started = std::chrono::steady_clock::now();
  while (archiver.RunningWorkers() < 1 &&
         std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  archiver.MailFatalError("FARM", "Receiver says: fatal 7");
  int told = -1;
  EXPECT_EQ(0,
            archiver.WaitForArchiveWorkers(std::chrono::seconds(20), [&](int running) { told = running; }));
  EXPECT_GE(told, 1);
  const std::string mails = ReadWholeFile(record);
  EXPECT_NE(std::string::npos,
            mails.find("-a|PLV: Receiver Fatal Error-> FARM:fields/north|-b|Receiver says: fatal 7|"))
      << mails;
  // The zip failure was mailed but not shown: the program was closing by then.
  EXPECT_NE(std::string::npos, mails.find("-a|PLV: Had Zipping Error|")) << mails;
  EXPECT_TRUE(prompts.Texts().empty());

  // Once closing, nothing new starts.
  archiver.MailFatalError("FARM", "again");
  EXPECT_EQ(0, archiver.RunningWorkers());
}

TEST(LogArchiverTest, WaitIsBoundedAndAZipFailureIsShownThroughThePrompts) {
  CTempDir dir;
  CMapProfile profile;
  CPromptRecorder prompts;
  profile.Set("ArchiveTools", "Zip", WriteScript(dir.Path() / "zip", "exit 9\n"));
  WriteFile(dir.Path() / "FARM6120914.log", "x\n");
  CLogArchiver archiver(profile, prompts);
  archiver.Function()(ClosedLogFile{dir / "FARM6120914.log", "FARM6120914.zip", "FARM", 0});
  ASSERT_EQ(1u, prompts.Texts().size());
  EXPECT_EQ(0u, prompts.Texts()[0].find("Zip Error:\n "));

  profile.Set("ArchiveTools", "Zip", WriteScript(dir.Path() / "zip-slow", "sleep 3\n"));
  StartArchiveWorker(archiver.Function(),
                     ClosedLogFile{dir / "FARM6120914.log", "FARM6120914.zip", "FARM", 0});
  const auto started = std::chrono::steady_clock::now();
  while (archiver.RunningWorkers() < 1 &&
         std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto waitStart = std::chrono::steady_clock::now();
  EXPECT_EQ(1, archiver.WaitForArchiveWorkers(std::chrono::milliseconds(200), [](int) {}));
  EXPECT_LT(std::chrono::steady_clock::now() - waitStart, std::chrono::seconds(2));
  EXPECT_EQ(0, archiver.WaitForArchiveWorkers(std::chrono::seconds(10), [](int) {}));
}

}  // namespace
