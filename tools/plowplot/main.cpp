// plowplot: the strip chart of one hourly text log as a PDF. See --help.

#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plot_command_line.h"
#include "strip_chart_data.h"
#include "strip_chart_page.h"

namespace {

bool ReadLog(const std::string& path, CStripChartCollector& collector, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = "cannot read " + path + ": it is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!collector.AddStream(in)) {
    error = "cannot read " + path + ": read error";
    return false;
  }
  return true;
}

// Qt's remark that XDG_RUNTIME_DIR is unset (usual for a worker without a session) is noise on
// the archiving chain's stderr; everything else Qt says passes through.
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths:"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
  PlotCommandLine command;
  std::string error;
  if (!ParsePlotCommandLine(std::vector<std::string>(argv + 1, argv + argc), command, error)) {
    std::fprintf(stderr, "plowplot: %s\n", error.c_str());
    return 2;
  }
  if (command.help) {
    std::fputs(PlotUsage(), stdout);
    return 0;
  }
  if (!command.scaleWarning.empty()) std::fprintf(stderr, "plowplot: %s\n", command.scaleWarning.c_str());

  CStripChartCollector collector;
  if (!ReadLog(command.logPath, collector, error)) {
    std::fprintf(stderr, "plowplot: %s\n", error.c_str());
    return 1;
  }

  // The chart never needs a screen; the archiving worker usually runs without one.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(FilterQtMessages);
  QGuiApplication app(argc, argv);

  const QFileInfo log(QString::fromStdString(command.logPath));
  const QString pdfPath =
      log.absolutePath() + QLatin1Char('/') + log.completeBaseName() + QStringLiteral(".pdf");
  const CStripChartPage page(collector.Data(), StripChartOptions{log.fileName(), command.heightScale});
  // Written aside and renamed at the end, so a failure never leaves half a PDF as B.pdf.
  QSaveFile file(pdfPath);
  QString reason;
  if (!file.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "plowplot: cannot write %s: %s\n", qPrintable(pdfPath),
                 qPrintable(file.errorString()));
    return 1;
  }
  if (!page.Write(&file, reason) || !file.commit()) {
    if (reason.isEmpty()) reason = file.errorString();
    std::fprintf(stderr, "plowplot: cannot write %s: %s\n", qPrintable(pdfPath), qPrintable(reason));
    return 1;
  }
  const StripChartData& data = collector.Data();
  if (command.quiet == 0)
    std::printf("plowplot: wrote %s: %zu positions, %zu velocities, %zu satellite selections, %zu states%s\n",
                qPrintable(pdfPath), data.height.size(), data.speed.size(), data.satellites.size(),
                data.states.size(), data.linesTooLong ? ", some overlong lines skipped" : "");
  return 0;
}
