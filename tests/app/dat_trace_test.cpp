#include "app/dat_trace.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <string>
#include <vector>

namespace {

std::vector<std::string>* captured = nullptr;

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (captured == nullptr) return;
  captured->push_back(std::string(context.category ? context.category : "") + "|" +
                      std::to_string(static_cast<int>(type)) + "|" + text.toStdString());
}

// The writer's progress lines in the window: the program's debug output, shown once asked for.
TEST(DatTrace, GoesToTheDebugOutputCategoryOnlyWhenItIsSwitchedOn) {
  std::vector<std::string> lines;
  captured = &lines;
  const QtMessageHandler previous = qInstallMessageHandler(Capture);
  const auto trace = MakeDatTrace(false);

  trace("DAT: Constructing Type 15");
  EXPECT_TRUE(lines.empty());  // off by default

  QLoggingCategory::setFilterRules(QStringLiteral("plowview.dat.debug=true"));
  trace("DAT: Constructing Type 15");
  trace(nullptr);
  QLoggingCategory::setFilterRules(QString());
  trace("DAT: Requesting DOP");

  qInstallMessageHandler(previous);
  captured = nullptr;
  EXPECT_EQ(lines, std::vector<std::string>{"plowview.dat|" + std::to_string(static_cast<int>(QtDebugMsg)) +
                                            "|DAT: Constructing Type 15"});
}

// plowview --headless --verbose: the lines go to stderr, never to the debug output.
TEST(DatTrace, VerboseGoesToStderrOnly) {
  std::vector<std::string> lines;
  captured = &lines;
  const QtMessageHandler previous = qInstallMessageHandler(Capture);
  QLoggingCategory::setFilterRules(QStringLiteral("plowview.dat.debug=true"));
  testing::internal::CaptureStderr();
  const auto trace = MakeDatTrace(true);
  trace("DAT: Requesting DOP");
  trace(nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  QLoggingCategory::setFilterRules(QString());
  qInstallMessageHandler(previous);
  captured = nullptr;
  EXPECT_EQ(err, "DAT: Requesting DOP\n");
  EXPECT_TRUE(lines.empty());
}

}  // namespace
