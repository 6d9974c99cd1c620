#include "web/web_messages.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using WebMessages::PageCommand;
using Kind = WebMessages::PageCommand::Kind;

TEST(WebMessages, ParsePageMessage_TakesOnlyTheKeyAndEnterMessages) {
  struct Case {
    const char* text;
    std::optional<PageCommand> command;
  };
  const Case cases[] = {
      {R"({"t":"key","code":2})", PageCommand{Kind::Key, 2}},
      {R"({"t":"key","code":1})", PageCommand{Kind::Key, 1}},
      {R"({"t":"key","code":8})", PageCommand{Kind::Key, 8}},
      {R"({"t":"key","code":15})", PageCommand{Kind::Key, 15}},
      {R"({"t":"key","code":2.0})", PageCommand{Kind::Key, 2}},
      {R"( {"code":4, "t":"key", "extra":[1,2]} )", PageCommand{Kind::Key, 4}},
      {R"({"t":"enter","down":true})", PageCommand{Kind::EnterDown, 0}},
      {R"({"t":"enter","down":false})", PageCommand{Kind::EnterUp, 0}},
      // Enter's codes come only through "enter", so a page cannot hold the long press by itself.
      {R"({"t":"key","code":0})", std::nullopt},
      {R"({"t":"key","code":6})", std::nullopt},
      {R"({"t":"key","code":7})", std::nullopt},
      {R"({"t":"key","code":5})", std::nullopt},
      {R"({"t":"key","code":16})", std::nullopt},
      {R"({"t":"key","code":-1})", std::nullopt},
      {R"({"t":"key","code":2.5})", std::nullopt},
      {R"({"t":"key","code":1e300})", std::nullopt},
      {R"({"t":"key","code":"2"})", std::nullopt},
      {R"({"t":"key"})", std::nullopt},
      {R"({"t":"enter","down":1})", std::nullopt},
      {R"({"t":"enter"})", std::nullopt},
      {R"({"t":"KEY","code":2})", std::nullopt},
      {R"({"t":"state"})", std::nullopt},
      {R"(["key",2])", std::nullopt},
      {R"({"t":"key","code":2)", std::nullopt},
      {"", std::nullopt},
      {"null", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WebMessages::ParsePageMessage(QByteArray(c.text)), c.command) << c.text;
}

TEST(WebMessages, ParsePageMessage_RefusesAnythingLongerThanTheLimit) {
  QByteArray padded = R"({"t":"key","code":2,"pad":")";
  padded += QByteArray(static_cast<qsizetype>(WebMessages::kMaxPageMessage), 'x') + "\"}";
  EXPECT_EQ(WebMessages::ParsePageMessage(padded), std::nullopt);
  const QByteArray head = R"({"t":"key","code":2,"pad":")";
  const QByteArray justFits =
      head + QByteArray(static_cast<qsizetype>(WebMessages::kMaxPageMessage) - head.size() - 2, 'x') + "\"}";
  ASSERT_EQ(static_cast<std::size_t>(justFits.size()), WebMessages::kMaxPageMessage);
  EXPECT_EQ(WebMessages::ParsePageMessage(justFits), (PageCommand{Kind::Key, 2}));
}

TEST(WebMessages, State_CarriesRowsAsHexAndTheTitleByteForByte) {
  PanelSnapshot s;
  s.rows = {std::string("AB\x80", 3), std::string("\xFF", 1)};
  s.cursorOn = true;
  s.cursorColumn = 5;
  s.cursorRow = 1;
  s.linkState = 3;
  s.lcdLit = true;
  s.loggingLamp = true;
  s.logging = true;
  s.keysAvailable = false;
  s.title = "Plowview [2] - Mote \xE9\"<b>";  // a receiver byte above 0x7F, and markup as text
  const QJsonObject o = QJsonDocument::fromJson(WebMessages::State(s)).object();
  EXPECT_EQ(o["t"].toString(), "state");
  EXPECT_EQ(o["rows"].toArray(), (QJsonArray{"414280", "ff"}));
  EXPECT_EQ(o["cursor"].toArray(), (QJsonArray{true, 5, 1}));
  EXPECT_EQ(o["link"].toInt(), 3);
  EXPECT_TRUE(o["lit"].toBool());
  EXPECT_TRUE(o["lamp"].toBool());
  EXPECT_TRUE(o["logging"].toBool());
  EXPECT_FALSE(o["keys"].toBool());
  EXPECT_EQ(o["title"].toString(), QString::fromUtf8("Plowview [2] - Mote \u00E9\"<b>"));
}

TEST(WebMessages, HelloAndLog_CarryAccessFontAndLinesInOrder) {
  std::vector<std::uint8_t> font(256 * 5, 0);
  font[0x41 * 5] = 0x7E;
  const QJsonObject hello =
      QJsonDocument::fromJson(WebMessages::Hello(WebAccess::Control, font, 200)).object();
  EXPECT_EQ(hello["access"].toString(), "control");
  EXPECT_EQ(hello["logMax"].toInt(), 200);
  const QString hex = hello["font"].toString();
  ASSERT_EQ(hex.size(), 256 * 5 * 2);
  EXPECT_EQ(hex.mid(0x41 * 10, 2), "7e");
  EXPECT_EQ(
      QJsonDocument::fromJson(WebMessages::Hello(WebAccess::View, font, 200)).object()["access"].toString(),
      "view");

  const QJsonObject log =
      QJsonDocument::fromJson(WebMessages::Log({"P 1", "* Web client x", "T \t<i>"})).object();
  EXPECT_EQ(log["t"].toString(), "log");
  EXPECT_EQ(log["lines"].toArray(), (QJsonArray{"P 1", "* Web client x", "T \t<i>"}));
}

}  // namespace
