// The archiving of a closed hour end to end: plowview headless on the built-in simulator, its
// receiver clock running ten minutes a second across an hour boundary, with zipping, a plot and
// the upload to a loopback FTP server switched on in the settings file.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcessEnvironment>

#include <filesystem>
#include <fstream>
#include <string>

#include "archive_peers.h"
#include "support/temp_dir.h"

namespace {

using namespace archivetest;
namespace fs = std::filesystem;

// The zips that have arrived under `folder`.
std::vector<fs::path> Zips(const fs::path& folder) {
  std::vector<fs::path> zips;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == ".zip") zips.push_back(entry.path());
  return zips;
}

TEST(ArchiveHeadless, ClosedHourArrivesOnTheFtpServerAsAZipWithLogAndPlot) {
  CTempDir dir;
  const fs::path root = dir.Path() / "ftp-root";
  fs::create_directories(root);
  fs::create_directories(dir.Path() / "logs");
  CPythonPeer ftp(dir, "ftp_peer.py", kFtpPeer, {QString::fromStdString(root.string()), "farm", "pw%1"});
  ASSERT_NE(0, ftp.port) << ftp.Problem();

  std::ofstream ini(dir / "Plowview.ini");
  ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=1\nm_LoggingFolder=" << (dir / "logs")
      << "\nm_LoggingPrefix=A_\nm_logOptions=529\n"
      << "[PlowviewArchiveSettings]\nm_ZipLogFiles=1\nm_CreateStripChart=1\nm_ZipPDFFiles=1\n"
      << "m_RemovePDFPostZip=1\nm_FTPZippedFiles=1\nm_RemoveZIPPostFTP=1\nm_FTPHostAddress=" << ftp.Address()
      << "\nm_FTPUserName=farm\nm_FTPPassword=pw%1\nm_FTPRemotePath=fields/north\n"
      << "[ArchiveTools]\nPlot=" << ProgramPath("plowplot") << "\n";
  ini.close();

  QProcess plowview;
  plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PLOWVIEW_SIMULATOR_ARGS", "--start-time 2026-01-07T14:50:00Z --time-scale 600");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
  plowview.setProcessEnvironment(env);
  plowview.start(QString::fromStdString(ProgramPath("plowview")),
                 {"--headless", "--simulate", "--config", QString::fromStdString(dir / "Plowview.ini")});
  ASSERT_TRUE(plowview.waitForStarted(5000));

  const fs::path arrived = root / "fields" / "north";
  QElapsedTimer timer;
  timer.start();
  while (Zips(arrived).empty() && timer.elapsed() < 90000 && plowview.state() == QProcess::Running)
    plowview.waitForFinished(250);
  const std::vector<fs::path> zips = Zips(arrived);
  ::kill(static_cast<pid_t>(plowview.processId()), SIGTERM);
  const bool stopped = plowview.waitForFinished(60000);
  if (!stopped) plowview.kill();
  const std::string err = plowview.readAllStandardError().toStdString();
  ASSERT_FALSE(zips.empty()) << err;
  EXPECT_TRUE(stopped);
  EXPECT_EQ(plowview.exitCode(), 0) << err;

  // The first closed hour: its log, its plot and its manifest, named after it, without folders.
  const fs::path first = *std::min_element(zips.begin(), zips.end());
  const std::string base = first.stem().string();
  EXPECT_EQ(base.rfind("A_60107", 0), 0u) << base;
  EXPECT_EQ((std::vector<std::string>{base + ".log", base + ".pdf", base + ".manifest"}),
            ZipListing(first.string()));
  // Uploaded, then removed here with the zipped sources; the password went nowhere else.
  const fs::path logs = dir.Path() / "logs";
  EXPECT_FALSE(fs::exists(logs / (base + ".zip")));
  EXPECT_FALSE(fs::exists(logs / (base + ".log")));
  EXPECT_FALSE(fs::exists(logs / (base + ".pdf")));
  EXPECT_EQ(err.find("pw%1"), std::string::npos) << err;
}

}  // namespace
