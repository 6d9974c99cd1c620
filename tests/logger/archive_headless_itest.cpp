// The archiving of a closed hour end to end: plowview headless on the built-in simulator, its
// receiver clock running ten minutes a second across an hour boundary, with zipping, a plot and
// the upload to a loopback FTP server switched on in the settings file.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
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
  // The hour after the closed one goes on logging while its predecessor is archived.
  const fs::path logs = dir.Path() / "logs";
  const auto newestLogSize = [&] {
    fs::path newest;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(logs, ec))
      if (entry.path().extension() == ".log" && entry.path() > newest) newest = entry.path();
    return std::make_pair(newest, newest.empty() ? std::uintmax_t{0} : fs::file_size(newest, ec));
  };
  const auto openBefore = newestLogSize();
  plowview.waitForFinished(1000);
  const auto openAfter = newestLogSize();
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
  // The clock runs an hour in six seconds, so the open file may have moved on to the next hour.
  EXPECT_GT(openBefore.first.stem().string(), base);
  EXPECT_TRUE(openAfter.first > openBefore.first || openAfter.second > openBefore.second) << openAfter.first;
  // Stopping closes the open hour without archiving it.
  EXPECT_TRUE(fs::exists(openAfter.first)) << openAfter.first;
  EXPECT_FALSE(fs::exists(arrived / (openAfter.first.stem().string() + ".zip")));

  // The plot inside the zip opens: its first page renders to an image.
  const fs::path pdf = dir.Path() / "arrived.pdf";
  QProcess unzip;
  unzip.setStandardOutputFile(QString::fromStdString(pdf.string()));
  unzip.start("unzip", {"-p", QString::fromStdString(first.string()), QString::fromStdString(base + ".pdf")});
  ASSERT_TRUE(unzip.waitForFinished(10000));
  QProcess render;
  render.start("pdftoppm", {"-png", "-r", "30", "-f", "1", "-l", "1", "-singlefile",
                            QString::fromStdString(pdf.string()), QString::fromStdString(dir / "page")});
  ASSERT_TRUE(render.waitForFinished(30000));
  EXPECT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
  std::ifstream page(dir / "page.png", std::ios::binary);
  std::string signature(8, '\0');
  page.read(signature.data(), 8);
  EXPECT_EQ(signature, std::string("\x89PNG\r\n\x1a\n", 8));

  // Uploaded, then removed here with the zipped sources; the password went nowhere else.
  EXPECT_FALSE(fs::exists(logs / (base + ".zip")));
  EXPECT_FALSE(fs::exists(logs / (base + ".log")));
  EXPECT_FALSE(fs::exists(logs / (base + ".pdf")));
  EXPECT_EQ(err.find("pw%1"), std::string::npos) << err;
  EXPECT_EQ(err.find("pw%251"), std::string::npos) << err;
}

}  // namespace
