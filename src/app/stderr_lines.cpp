#include "app/stderr_lines.h"

#include <QString>
#include <QtGlobal>

#include <mutex>

namespace {

constexpr const char* kProgramName = "plowview";

std::mutex nameLock;
std::string lineName = kProgramName;

void QtMessageToLine(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& message) {
  WriteStderrLine(message.toStdString());
}

}  // namespace

std::string FormatStderrLine(std::string_view name, std::string_view text) {
  std::string line;
  line.reserve(name.size() + text.size() + 3);
  line.append(name).append(": ");
  bool blank = false;  // a line break or tab with the blanks around it becomes one blank
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\t') {
      while (line.size() > name.size() + 2 && line.back() == ' ') line.pop_back();
      if (line.size() > name.size() + 2) line += ' ';
      blank = true;
      continue;
    }
    if (blank && c == ' ') continue;
    blank = false;
    line += (u < 0x20 || u == 0x7F) ? '?' : c;
  }
  while (line.size() > name.size() + 2 && line.back() == ' ') line.pop_back();
  line += '\n';
  return line;
}

std::string StationNameOf(const std::filesystem::path& settingsFile) {
  if (settingsFile.empty() || settingsFile.filename() == "Plowview.ini") return {};
  return settingsFile.extension() == ".ini" ? settingsFile.stem().string() : settingsFile.filename().string();
}

void SetStderrLineName(const std::string& name) {
  std::lock_guard<std::mutex> hold(nameLock);
  lineName = name.empty() ? kProgramName : name;
}

std::string StderrLineName() {
  std::lock_guard<std::mutex> hold(nameLock);
  return lineName;
}

void WriteStderrLine(std::string_view text, std::FILE* out) {
  const std::string line = FormatStderrLine(StderrLineName(), text);
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

void RouteQtMessagesToStderrLines() {
  qInstallMessageHandler(QtMessageToLine);
}
