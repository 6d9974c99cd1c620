#pragma once

#include <QStringList>
#include <filesystem>
#include <string>
#include <vector>

// What the command line asks of this run.
struct PlowviewOptions {
  std::filesystem::path configPath;   // --config PATH; empty: the default settings file
  bool headless = false;              // --headless: no window; connect at once, run until a signal
  bool printLog = false;              // --print-log: with --headless, title, panel and log lines to stdout
  bool simulate = false;              // --simulate: connect to plowsim on a pseudo-terminal for this run
  bool relayServer = false;           // --relay-server [PORT]: "Enable as Server" on for this run
  int canAddress = -1;                // --can-address N: with --headless, the CAN receiver to choose
  int relayPort = -1;                 // the PORT given to --relay-server; -1: the stored port
  std::filesystem::path screenshot;   // --screenshot PNG: save the window once it shows the receiver
  bool listFiles = false;             // --list-files: with --headless, print the receiver's entries
  std::vector<std::string> getFiles;  // --get-files PATTERN...: with --headless, download the matches
  bool deleteAfter = false;           // --delete-after: with --get-files, delete each file once done
  std::string playFile;               // --play FILE: play a raw packet log instead of connecting
  double playSpeed = 1.0;             // --speed N: with --play, N times real time (0: no waiting)
  bool reconnect = false;             // --reconnect: with --headless, reopen a lost link ("AutoReconnect")
  bool verbose = false;               // --verbose: with --headless, progress lines and link notices on stderr
  bool webPanel = false;              // --web-panel [PORT]: serve the panel to browsers for this run
  int webPanelPort = -1;              // the PORT given to --web-panel; -1: the stored port
};

enum class CommandLineAction { Run, ShowHelp, ShowVersion, Fail };

struct CommandLineResult {
  CommandLineAction action = CommandLineAction::Run;
  PlowviewOptions options;
  // The help or version text to print, or the reason the command line was refused.
  std::string text;
};

// Parses the program's arguments (the first one is the program itself). Needs no application
// object, so --help and --version work without a display.
CommandLineResult ParsePlowviewCommandLine(const QStringList& arguments);

// The plowview program: parses the command line, then runs the window.
int PlowviewMain(int argc, char** argv);
