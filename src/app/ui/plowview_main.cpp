#include "app/ui/plowview_main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/ui/button_test_app.h"

#ifndef PLOWVIEW_VERSION
#define PLOWVIEW_VERSION "unknown"
#endif

namespace {

// Every option of the program. Adding one: a QCommandLineOption here and a line in
// ParsePlowviewCommandLine that copies it into PlowviewOptions.
struct OptionSet {
  QCommandLineOption config{QStringLiteral("config"),
                            QStringLiteral("Read and write the settings in PATH instead of "
                                           "$XDG_CONFIG_HOME/Plowview.ini (~/.config/Plowview.ini)."),
                            QStringLiteral("PATH")};
};

std::string HelpText(const QCommandLineParser& parser) {
  // The parser names the program after the running application, which does not exist yet here.
  QString text = parser.helpText();
  const auto firstBreak = text.indexOf(QLatin1Char('\n'));
  text = QStringLiteral("Usage: plowview [options]") + text.mid(firstBreak);
  return text.toStdString();
}

int RunWindow(int argc, char** argv, const PlowviewOptions& options) {
  QApplication qtApp(argc, argv);
  AppPaths paths;
  paths.settingsFile = options.configPath;
  CButtonTestApp app(paths);
  if (!app.InitInstance()) return 1;
  return QApplication::exec();
}

}  // namespace

CommandLineResult ParsePlowviewCommandLine(const QStringList& arguments) {
  CommandLineResult result;
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Remote front panel, diagnostic logger and packet relay for agricultural GPS receivers.\n"
      "Settings are kept in $XDG_CONFIG_HOME/Plowview.ini unless --config names another file."));
  // Our own help option: Qt's would also offer --help-all, which needs the application object.
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Displays this help and exits."));
  parser.addOption(help);
  const QCommandLineOption version = parser.addVersionOption();
  OptionSet options;
  parser.addOption(options.config);

  if (!parser.parse(arguments)) {
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
  if (!parser.positionalArguments().isEmpty()) {
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
  return RunWindow(argc, argv, parsed.options);
}
