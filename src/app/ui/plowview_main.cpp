#include "app/ui/plowview_main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <cstdio>

#include "app/headless_playback.h"
#include "app/headless_runner.h"
#include "app/instance_lock.h"
#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "app/signal_watcher.h"
#include "app/stderr_lines.h"
#include "app/ui/button_test_app.h"
#include "app/ui/main_frame.h"
#include "app/web_panel_settings.h"

#ifndef PLOWVIEW_VERSION
#define PLOWVIEW_VERSION "unknown"
#endif

namespace {

// Every option of the program. Adding one: a QCommandLineOption here and a line in
// ParsePlowviewCommandLine that copies it into PlowviewOptions.
struct OptionSet {
  QCommandLineOption verbose{
      QStringLiteral("verbose"),
      QStringLiteral("With --headless: the DAT file writer's progress lines, and the link's notices "
                     "(a CAN send the bus transport aborted), on stderr.")};
  QCommandLineOption config{QStringLiteral("config"),
                            QStringLiteral("Read and write the settings in PATH instead of "
                                           "$XDG_CONFIG_HOME/Plowview.ini (~/.config/Plowview.ini)."),
                            QStringLiteral("PATH")};
  QCommandLineOption simulate{QStringLiteral("simulate"),
                              QStringLiteral("Start the built-in receiver simulator (plowsim) on a "
                                             "pseudo-terminal and connect to it over the serial link "
                                             "for this run.")};
  QCommandLineOption headless{QStringLiteral("headless"),
                              QStringLiteral("No window: connect at once with the stored settings, run "
                                             "until SIGINT or SIGTERM, then disconnect cleanly. Messages "
                                             "go to stderr, questions are answered No. Exits non-zero "
                                             "when the connection fails or is lost. SIGHUP reads the "
                                             "settings file again: changed logging options and archive "
                                             "settings apply from the next hour.")};
  QCommandLineOption printLog{QStringLiteral("print-log"),
                              QStringLiteral("With --headless: print the receiver's title, its panel rows "
                                             "and every log line to stdout as they change, and the GPS "
                                             "time of each time packet (\"gps: \" lines).")};
  QCommandLineOption relayServer{QStringLiteral("relay-server"),
                                 QStringLiteral("Serve the receiver's packets to other instances over TCP "
                                                "for this run (\"Enable as Server\"), on PORT when given "
                                                "(an optional number after the option), else on the "
                                                "stored server port.")};
  QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                QStringLiteral("Window only: save the main window as PNG once the panel "
                                               "shows the receiver (or after 3 s; while a connection "
                                               "is being made, at most 30 s), then exit."),
                                QStringLiteral("PNG")};
  QCommandLineOption listFiles{QStringLiteral("list-files"),
                               QStringLiteral("With --headless: print the entries of the receiver's data "
                                              "folder, one per line, and exit.")};
  QCommandLineOption getFiles{QStringLiteral("get-files"),
                              QStringLiteral("With --headless: download the receiver's files whose names "
                                             "match the PATTERN arguments (shell patterns, any case) into "
                                             "the logging folder, printing each file's status as it "
                                             "changes; exits 0 when every file is done, else 1.")};
  QCommandLineOption canAddress{QStringLiteral("can-address"),
                                QStringLiteral("With --headless and a CAN link: connect to the receiver "
                                               "at J1939 address N (default: the first one found)."),
                                QStringLiteral("N")};
  QCommandLineOption deleteAfter{QStringLiteral("delete-after"),
                                 QStringLiteral("With --get-files: delete each file on the receiver once "
                                                "it is downloaded.")};
  QCommandLineOption reconnect{QStringLiteral("reconnect"),
                               QStringLiteral("With --headless: when the link to the receiver is lost (a "
                                              "device that went away, a server that closed), reopen it "
                                              "every 0.5 s until it is back and go on logging into the "
                                              "same file (\"AutoReconnect\" for this run).")};
  QCommandLineOption webPanel{
      QStringLiteral("web-panel"),
      QStringLiteral("Serve the receiver's front panel to web browsers for this run, on "
                     "PORT when given (an optional number after the option), else on "
                     "the stored port (section [WebPanel], default 8021). The addresses "
                     "to look on and to press keys go to stderr (the window shows them "
                     "under File, Web Panel...). During --play pages only look on.")};
};

// The playback options, kept apart from the connection options above.
struct PlaybackOptionSet {
  QCommandLineOption play{QStringLiteral("play"),
                          QStringLiteral("Play the raw packet log FILE (a .kavo file) instead of connecting: "
                                         "the panel, the log viewer and the processor usage window show "
                                         "the recording, paced by its time packets; nothing is sent. "
                                         "With --headless the run ends at the end of the file (and "
                                         "--print-log adds a \"gps: \" line for each played second)."),
                          QStringLiteral("FILE")};
  QCommandLineOption speed{QStringLiteral("speed"),
                           QStringLiteral("With --play: N times real time (default 1; 0 plays as fast "
                                          "as possible)."),
                           QStringLiteral("N")};
};

// "--relay-server" and "--web-panel" take an optional port, which QCommandLineParser cannot
// express: a number right after the option is taken out here.
int TakeOptionalPort(QStringList& arguments, const QString& option) {
  for (int i = 1; i + 1 < arguments.size(); ++i) {
    if (arguments[i] != option) continue;
    bool isNumber = false;
    const int port = arguments[i + 1].toInt(&isNumber);
    if (!isNumber) return -1;
    arguments.removeAt(i + 1);
    return port;
  }
  return -1;
}

// Qt's own command-line options ("-platform offscreen", "-style fusion", "-reverse", ...) are
// Qt's to take: QApplication reads them from argv later. Our parser would take "-platform" for
// the short options p, l, a, ... and refuse them, so they are taken out of its copy here.
void TakeQtOptions(QStringList& arguments) {
  static const QStringList withValue = {
      QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
      QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
      QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
      QStringLiteral("qwindowicon"),     QStringLiteral("geometry"),
      QStringLiteral("title"),           QStringLiteral("icon"),
      QStringLiteral("display"),         QStringLiteral("name"),
      QStringLiteral("session"),         QStringLiteral("style"),
      QStringLiteral("stylesheet")};
  static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                    QStringLiteral("nograb"), QStringLiteral("dograb"),
                                    QStringLiteral("sync")};
  for (int i = 1; i < arguments.size();) {
    const QString& arg = arguments[i];
    if (arg == QStringLiteral("--")) break;
    // Qt takes "-platform" and "--platform" alike.
    QString name = arg.startsWith(QStringLiteral("--")) ? arg.mid(2)
                   : arg.startsWith(QLatin1Char('-'))   ? arg.mid(1)
                                                        : QString();
    const auto equals = name.indexOf(QLatin1Char('='));
    const bool inlineValue = equals > 0;
    if (inlineValue) name.truncate(equals);
    if (withValue.contains(name) && (inlineValue || i + 1 < arguments.size())) {
      arguments.remove(i, inlineValue ? 1 : 2);
    } else if (!inlineValue && flags.contains(name)) {
      arguments.removeAt(i);
    } else {
      ++i;
    }
  }
}

std::string HelpText(const QCommandLineParser& parser) {
  // The parser names the program after the running application, which does not exist yet here.
  QString text = parser.helpText();
  const auto firstBreak = text.indexOf(QLatin1Char('\n'));
  text = QStringLiteral("Usage: plowview [options]") + text.mid(firstBreak);
  return text.toStdString();
}

// Extra plowsim arguments for --simulate (a trace file, a start time, faults), from the
// environment so that tests and demos can shape the simulated receiver.
QStringList SimulatorArgumentsFromEnvironment();

int RunWindow(int argc, char** argv, const PlowviewOptions& options) {
  QApplication qtApp(argc, argv);
  AppPaths paths;
  paths.settingsFile = options.configPath;
  AppRunOptions run;
  run.simulate = options.simulate;
  if (run.simulate) run.simulatorArguments = SimulatorArgumentsFromEnvironment();
  run.relayServer = options.relayServer;
  run.relayPort = options.relayPort;
  run.screenshot = options.screenshot;
  run.playFile = options.playFile;
  run.playSpeed = options.playSpeed;
  run.webPanel = options.webPanel;
  run.webPanelPort = options.webPanelPort;
  CButtonTestApp app(paths, run);
  if (!app.InitInstance()) return 1;
  // SIGINT and SIGTERM close the window as its close box would: the panel is handed back to the
  // receiver and the link closed before the program ends.
  CSignalWatcher stopSignals([&app](int) {
    if (app.MainFrame()) app.MainFrame()->close();
  });
  const int code = QApplication::exec();
  return app.ScreenshotFailed() ? 1 : code;
}

// Extra plowsim arguments for --simulate (a trace file, a start time, faults), from the
// environment so that tests and demos can shape the simulated receiver.
QStringList SimulatorArgumentsFromEnvironment() {
  const QString text = qEnvironmentVariable("PLOWVIEW_SIMULATOR_ARGS");
  return QProcess::splitCommand(text);
}

int RunHeadless(int argc, char** argv, const PlowviewOptions& options) {
  QCoreApplication qtApp(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Plowview"));
  RouteQtMessagesToStderrLines();
  CSettingsProfile profile(options.configPath.empty() ? CSettingsProfile::DefaultPath() : options.configPath);
  if (!options.playFile.empty()) {
    CInstanceLock playInstance;
    PlaybackRunOptions play;
    play.file = options.playFile;
    play.speed = options.playSpeed;
    play.printLog = options.printLog;
    WebPanelSettings web = LoadWebPanelSettings(profile);
    play.webPanel = web.enabled || options.webPanel;
    play.webPanelConfig = web.config;
    if (options.webPanelPort > 0) play.webPanelConfig.port = static_cast<std::uint16_t>(options.webPanelPort);
    CHeadlessPlayback playback(std::move(play), playInstance.Number());
    return playback.Run();
  }
  CPortSettings settings(profile);
  settings.LoadSettings();
  CInstanceLock instance;
  HeadlessOptions headless;
  headless.printLog = options.printLog;
  headless.simulate = options.simulate;
  headless.simulatorArguments = SimulatorArgumentsFromEnvironment();
  headless.relayServer = options.relayServer;
  headless.relayPort = options.relayPort;
  headless.canAddress = options.canAddress;
  if (options.listFiles) headless.files.mode = HeadlessFileCommand::Mode::List;
  if (!options.getFiles.empty()) headless.files.mode = HeadlessFileCommand::Mode::Get;
  headless.files.patterns = options.getFiles;
  headless.files.deleteAfter = options.deleteAfter;
  headless.reconnect = options.reconnect;
  headless.verbose = options.verbose;
  headless.webPanel = options.webPanel;
  headless.webPanelPort = options.webPanelPort;
  CHeadlessRunner runner(profile, settings, instance.Number(), headless);
  return runner.Run();
}

}  // namespace

CommandLineResult ParsePlowviewCommandLine(const QStringList& arguments) {
  CommandLineResult result;
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Remote front panel, diagnostic logger and packet relay for agricultural GPS receivers.\n"
      "Settings are kept in $XDG_CONFIG_HOME/Plowview.ini unless --config names another file.\n"
      "With --simulate, PLOWVIEW_SIMULATOR_ARGS adds arguments to plowsim (see plowsim --help).\n"
      "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are passed on to Qt."));
  // Our own help option: Qt's would also offer --help-all, which needs the application object.
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Displays this help and exits."));
  parser.addOption(help);
  const QCommandLineOption version = parser.addVersionOption();
  OptionSet options;
  parser.addOptions({options.config, options.simulate, options.headless, options.printLog,
                     options.relayServer, options.screenshot, options.listFiles, options.getFiles,
                     options.deleteAfter});
  parser.addPositionalArgument(QStringLiteral("PATTERN"),
                               QStringLiteral("With --get-files: the files to fetch."),
                               QStringLiteral("[PATTERN...]"));

  parser.addOption(options.verbose);
  PlaybackOptionSet playback;
  parser.addOptions({playback.play, playback.speed});
  parser.addOption(options.canAddress);
  parser.addOption(options.reconnect);
  parser.addOption(options.webPanel);
  QStringList args = arguments;
  TakeQtOptions(args);
  const int relayPort = TakeOptionalPort(args, QStringLiteral("--relay-server"));
  const int webPanelPort = TakeOptionalPort(args, QStringLiteral("--web-panel"));
  if (!parser.parse(args)) {
    result.action = CommandLineAction::Fail;
    result.text = parser.errorText().toStdString();
    return result;
  }
  if (parser.isSet(help)) {
    result.action = CommandLineAction::ShowHelp;
    result.text = HelpText(parser);
    return result;
  }
  if (parser.isSet(version)) {
    result.action = CommandLineAction::ShowVersion;
    result.text = std::string("plowview ") + PLOWVIEW_VERSION + "\n";
    return result;
  }
  if (!parser.positionalArguments().isEmpty() && !parser.isSet(options.getFiles)) {
    result.action = CommandLineAction::Fail;
    result.text = "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'";
    return result;
  }
  if (parser.isSet(options.config)) {
    const QString path = parser.value(options.config);
    if (path.isEmpty()) {
      result.action = CommandLineAction::Fail;
      result.text = "--config needs a file path";
      return result;
    }
    result.options.configPath = std::filesystem::path(path.toStdString());
  }
  PlowviewOptions& o = result.options;
  o.simulate = parser.isSet(options.simulate);
  o.headless = parser.isSet(options.headless);
  o.printLog = parser.isSet(options.printLog);
  o.verbose = o.headless && parser.isSet(options.verbose);
  o.relayServer = parser.isSet(options.relayServer);
  o.relayPort = relayPort;
  if (parser.isSet(options.screenshot)) o.screenshot = parser.value(options.screenshot).toStdString();
  auto fail = [&result](const char* why) {
    result.action = CommandLineAction::Fail;
    result.text = why;
    return result;
  };
  if (o.relayServer && relayPort != -1 && (relayPort < 1 || relayPort > 65535))
    return fail("--relay-server PORT must be between 1 and 65535");
  if (o.printLog && !o.headless) return fail("--print-log goes with --headless");
  if (parser.isSet(options.canAddress)) {
    bool ok = false;
    o.canAddress = parser.value(options.canAddress).toInt(&ok);
    if (!ok || o.canAddress < 1 || o.canAddress > 253)
      return fail("--can-address N must be between 1 and 253");
    if (!o.headless) return fail("--can-address goes with --headless (the window asks)");
  }
  o.webPanel = parser.isSet(options.webPanel);
  o.webPanelPort = webPanelPort;
  if (o.webPanel && webPanelPort != -1 && (webPanelPort < 1 || webPanelPort > 65535))
    return fail("--web-panel PORT must be between 1 and 65535");
  o.reconnect = parser.isSet(options.reconnect);
  if (o.reconnect && !o.headless)
    return fail("--reconnect goes with --headless (the window has \"Reconnect automatically\")");
  if (!o.screenshot.empty() && o.headless) return fail("--screenshot needs the window, not --headless");
  o.listFiles = parser.isSet(options.listFiles);
  for (const QString& pattern : parser.positionalArguments()) o.getFiles.push_back(pattern.toStdString());
  o.deleteAfter = parser.isSet(options.deleteAfter);
  if ((o.listFiles || parser.isSet(options.getFiles)) && !o.headless)
    return fail("--list-files and --get-files go with --headless");
  if (o.listFiles && parser.isSet(options.getFiles))
    return fail("--list-files and --get-files exclude each other");
  if (parser.isSet(options.getFiles) && o.getFiles.empty())
    return fail("--get-files needs at least one PATTERN");
  if (o.deleteAfter && !parser.isSet(options.getFiles)) return fail("--delete-after goes with --get-files");
  if (parser.isSet(playback.play)) {
    o.playFile = parser.value(playback.play).toStdString();
    if (o.playFile.empty()) return fail("--play needs a file");
    if (o.listFiles || parser.isSet(options.getFiles) || o.simulate || o.relayServer)
      return fail("--play goes with none of --simulate, --relay-server, --list-files, --get-files");
  }
  if (parser.isSet(playback.speed)) {
    bool ok = false;
    o.playSpeed = parser.value(playback.speed).toDouble(&ok);
    if (!ok || !(o.playSpeed >= 0.0) || o.playSpeed > 1000.0) return fail("--speed N must be from 0 to 1000");
    if (o.playFile.empty()) return fail("--speed goes with --play");
  }
  return result;
}

int PlowviewMain(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CommandLineResult parsed = ParsePlowviewCommandLine(arguments);
  switch (parsed.action) {
    case CommandLineAction::ShowHelp:
    case CommandLineAction::ShowVersion:
      std::fputs(parsed.text.c_str(), stdout);
      return 0;
    case CommandLineAction::Fail:
      std::fprintf(stderr, "plowview: %s\nTry 'plowview --help'.\n", parsed.text.c_str());
      return 2;
    case CommandLineAction::Run:
      break;
  }
  // A station is named after its settings file; its messages carry the name.
  SetStderrLineName(StationNameOf(parsed.options.configPath));
  if (parsed.options.headless) return RunHeadless(argc, argv, parsed.options);
  return RunWindow(argc, argv, parsed.options);
}
