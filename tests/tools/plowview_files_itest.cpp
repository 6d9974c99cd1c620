// The receiver's files from the command line and the PC as the receiver's memory card:
// plowview --headless --list-files / --get-files against plowsim --files, and plowsim's card
// script against plowview with remote file I/O on.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "program_path.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WritePatternFile(const fs::path& path, std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << bytes;
}

QByteArray Hash(const fs::path& path) {
  return QCryptographicHash::hash(QByteArray::fromStdString(ReadWholeFile(path)), QCryptographicHash::Sha256)
      .toHex();
}

// A folder with the settings (logging folder "logs", the card folder "card", remote file I/O as
// asked) and the receiver's files in "receiver".
class FilesRun {
 public:
  explicit FilesRun(bool remoteFileIo = false) {
    fs::create_directories(dir.Path() / "logs");
    fs::create_directories(dir.Path() / "card");
    fs::create_directories(dir.Path() / "receiver");
    std::ofstream ini(dir / "Plowview.ini");
    ini << "[Connect]\nHighSpeedKavo=1\nm_LogData=0\nm_LoggingFolder=" << (dir / "logs")
        << "\nRLI_Ena=" << (remoteFileIo ? "Y" : "N") << "\nRLI_Folder=" << (dir / "card") << "\n";
  }

  fs::path Receiver() const { return dir.Path() / "receiver"; }
  fs::path Logs() const { return dir.Path() / "logs"; }
  fs::path Card() const { return dir.Path() / "card"; }

  // Runs plowview --headless --simulate with `arguments` until it ends; false on a time-out.
  bool Run(const QString& simulatorArgs, QStringList arguments, int ms) {
    QProcess plowview;
    plowview.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLOWVIEW_SIMULATOR_ARGS", simulatorArgs);
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
    plowview.setProcessEnvironment(env);
    arguments << "--headless"
              << "--simulate"
              << "--config" << QString::fromStdString(dir / "Plowview.ini");
    plowview.start(Program("plowview"), arguments);
    if (!plowview.waitForStarted(5000)) return false;
    const bool ended = plowview.waitForFinished(ms);
    if (!ended) {
      plowview.kill();
      plowview.waitForFinished(5000);
    }
    out = plowview.readAllStandardOutput().toStdString();
    err = plowview.readAllStandardError().toStdString();
    exitCode = plowview.exitCode();
    return ended;
  }

  QString Quoted(const fs::path& path) const { return '"' + QString::fromStdString(path.string()) + '"'; }

  CTempDir dir;
  std::string out, err;
  int exitCode = -1;
};

// Every file of the receiver's folder arrived in the logging folder byte for byte.
void ExpectSameFiles(const FilesRun& run, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    ASSERT_TRUE(fs::exists(run.Logs() / name)) << name;
    EXPECT_EQ(Hash(run.Receiver() / name), Hash(run.Logs() / name)) << name;
  }
}

TEST(PlowviewFiles, ListFiles_PrintsTheEntriesOnePerLine) {
  FilesRun run;
  WritePatternFile(run.Receiver() / "B0001.T02", 10, 1);
  WritePatternFile(run.Receiver() / "a.txt", 0, 2);
  fs::create_directories(run.Receiver() / "subfolder");  // not a file: not listed
  ASSERT_TRUE(run.Run("--files " + run.Quoted(run.Receiver()), {"--list-files"}, 40000)) << run.err;
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"B0001.T02", "a.txt"}));
}

// Every seventh open, read or close answer is lost; the watchdog resends after a quiet second, so
// the files stay small (each lost answer costs a second: about 13 here).
TEST(PlowviewFiles, GetFilesWithLostAnswers_EveryFileByteIdentical) {
  FilesRun run;
  WritePatternFile(run.Receiver() / "DATA0001.T02", 10000, 3);  // 78 whole blocks and 16 bytes
  WritePatternFile(run.Receiver() / "empty.log", 0, 4);
  WritePatternFile(run.Receiver() / "three.bin", 300, 5);  // blocks of 128, 128 and 44
  WritePatternFile(run.Receiver() / "skip.me", 50, 6);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(run.Run("--drop-every 7 --files " + run.Quoted(run.Receiver()),
                      {"--get-files", "*.t02", "EMPTY.*", "three.bin"}, 200000))
      << run.out << run.err;
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  ExpectSameFiles(run, {"DATA0001.T02", "empty.log", "three.bin"});
  EXPECT_FALSE(fs::exists(run.Logs() / "skip.me"));
  // Each file's status lines, progress left out, in the order they came.
  std::vector<std::string> states;
  for (const std::string& line : Lines(run.out))
    if (line.find(": Downloading - ") == std::string::npos) states.push_back(line);
  // The first job starts as it is queued.
  EXPECT_EQ(states,
            (std::vector<std::string>{"DATA0001.T02: Starting...", "empty.log: Queued", "three.bin: Queued",
                                      "DATA0001.T02: Closing", "DATA0001.T02: Done", "empty.log: Starting...",
                                      "empty.log: Done", "three.bin: Starting...", "three.bin: Closing",
                                      "three.bin: Done"}))
      << run.out;
  EXPECT_NE(run.out.find("DATA0001.T02: Downloading - 0.0%\n"), std::string::npos);
  EXPECT_NE(run.out.find("DATA0001.T02: Downloading - 99.8%\n"), std::string::npos);
  // The files stay on the receiver.
  EXPECT_TRUE(fs::exists(run.Receiver() / "DATA0001.T02"));
  RecordProperty("seconds", static_cast<int>(clock.elapsed() / 1000));
}

// A megabyte with a lost answer now and then, deleted from the receiver once downloaded.
TEST(PlowviewFiles, GetFilesDeleteAfter_MegabyteArrivesAndIsDeletedOnTheReceiver) {
  FilesRun run;
  WritePatternFile(run.Receiver() / "BIG.T02", 1 << 20, 7);
  WritePatternFile(run.Receiver() / "nothing.dat", 0, 8);
  WritePatternFile(run.Receiver() / "keep.txt", 20, 9);
  const QByteArray bigHash = Hash(run.Receiver() / "BIG.T02");
  ASSERT_TRUE(run.Run("--drop-every 1000 --files " + run.Quoted(run.Receiver()),
                      {"--get-files", "--delete-after", "big.t02", "nothing.dat"}, 200000))
      << run.out << run.err;
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(Hash(run.Logs() / "BIG.T02"), bigHash);
  EXPECT_EQ(fs::file_size(run.Logs() / "BIG.T02"), 1u << 20);
  ASSERT_TRUE(fs::exists(run.Logs() / "nothing.dat"));
  EXPECT_EQ(fs::file_size(run.Logs() / "nothing.dat"), 0u);
  EXPECT_FALSE(fs::exists(run.Receiver() / "BIG.T02"));
  EXPECT_FALSE(fs::exists(run.Receiver() / "nothing.dat"));
  EXPECT_TRUE(fs::exists(run.Receiver() / "keep.txt"));
  for (const char* line : {"BIG.T02: Done", "BIG.T02: Deleting...", "BIG.T02: Deleted", "nothing.dat: Done",
                           "nothing.dat: Deleted"})
    EXPECT_NE(run.out.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << run.out;
}

TEST(PlowviewFiles, GetFilesFailures_ExitOne) {
  FilesRun run;
  WritePatternFile(run.Receiver() / "one.T02", 10, 10);
  // Nothing matches.
  ASSERT_TRUE(run.Run("--files " + run.Quoted(run.Receiver()), {"--get-files", "*.zip"}, 40000)) << run.err;
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("no file on the receiver matches"), std::string::npos) << run.err;
  // The download folder cannot be written: "File Open Failed".
  fs::remove_all(run.Logs());
  std::ofstream(run.Logs()) << "a file where the folder should be";
  ASSERT_TRUE(run.Run("--files " + run.Quoted(run.Receiver()), {"--get-files", "*"}, 40000)) << run.err;
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("one.T02: File Open Failed\n"), std::string::npos) << run.out;
}

// plowsim plays every remote file operation against plowview's card folder and checks the
// answers; it ends the run when the script is done.
TEST(PlowviewFiles, CardScript_EveryStepPasses) {
  FilesRun run(true);
  // What the script's hostile names aim at, beside the card folder.
  std::ofstream(run.dir / "outside.txt") << "outside";
  const QString script = QStringLiteral(PLOWVIEW_SOURCE_DIR "/tools/plowsim/card_script.txt");
  run.Run("--card-script \"" + script + "\"", {}, 60000);
  const std::vector<std::string> lines = Lines(run.err);
  int passed = 0;
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("FAIL ", 0), 0u) << line;
    passed += line.rfind("PASS ", 0) == 0 ? 1 : 0;
  }
  EXPECT_NE(run.err.find("CARD PASS: 83 steps, 0 failed"), std::string::npos) << run.err;
  EXPECT_EQ(passed, 83);
  // The script removes what it wrote, and nothing outside the card was touched.
  EXPECT_TRUE(fs::is_empty(run.Card()));
  EXPECT_EQ(ReadWholeFile(run.dir / "outside.txt"), "outside");
  EXPECT_FALSE(fs::exists(run.dir / "LOG001.T02"));
}

// A wrong expectation is reported as a failed step and a failed script.
TEST(PlowviewFiles, CardScript_MismatchFails) {
  FilesRun run(true);
  const fs::path script = run.dir.Path() / "wrong.txt";
  std::ofstream(script) << "open w A.TXT\nwrite 10\ntell 11\nclose\nremove A.TXT\n";
  run.Run("--card-script " + run.Quoted(script), {}, 60000);
  EXPECT_NE(run.err.find("FAIL 3: tell 11: position 10"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("CARD FAIL: 5 steps, 1 failed"), std::string::npos) << run.err;
}

}  // namespace
