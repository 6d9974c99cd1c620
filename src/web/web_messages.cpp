#include "web/web_messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <cmath>

namespace WebMessages {
namespace {

QString Hex(const std::string& bytes) {
  return QString::fromLatin1(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex());
}

// Receiver text is bytes of its own character set; Latin-1 keeps every byte a character.
QString Text(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QByteArray Compact(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool IsPanelKey(int code) {
  return code == 1 || code == 2 || code == 3 || code == 4 || code == 8 || (code >= 9 && code <= 15);
}

}  // namespace

QByteArray Hello(WebAccess access, const std::vector<std::uint8_t>& font, int logCapacity) {
  QJsonObject hello;
  hello[QStringLiteral("t")] = QStringLiteral("hello");
  hello[QStringLiteral("access")] =
      access == WebAccess::Control ? QStringLiteral("control") : QStringLiteral("view");
  hello[QStringLiteral("font")] = Hex(std::string(font.begin(), font.end()));
  hello[QStringLiteral("logMax")] = logCapacity;
  return Compact(hello);
}

QByteArray State(const PanelSnapshot& s) {
  QJsonObject state;
  state[QStringLiteral("t")] = QStringLiteral("state");
  state[QStringLiteral("rows")] = QJsonArray{Hex(s.rows[0]), Hex(s.rows[1])};
  state[QStringLiteral("cursor")] = QJsonArray{s.cursorOn, s.cursorColumn, s.cursorRow};
  state[QStringLiteral("link")] = s.linkState;
  state[QStringLiteral("lit")] = s.lcdLit;
  state[QStringLiteral("lamp")] = s.loggingLamp;
  state[QStringLiteral("logging")] = s.logging;
  state[QStringLiteral("keys")] = s.keysAvailable;
  state[QStringLiteral("title")] = Text(s.title);
  return Compact(state);
}

QByteArray Log(const std::deque<std::string>& lines) {
  QJsonArray texts;
  for (const std::string& line : lines) texts.append(Text(line));
  QJsonObject log;
  log[QStringLiteral("t")] = QStringLiteral("log");
  log[QStringLiteral("lines")] = texts;
  return Compact(log);
}

std::optional<PageCommand> ParsePageMessage(QByteArrayView message) {
  if (message.isEmpty() || static_cast<std::size_t>(message.size()) > kMaxPageMessage) return std::nullopt;
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(message.toByteArray(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  const QJsonValue type = object.value(QStringLiteral("t"));
  if (type == QStringLiteral("key")) {
    const QJsonValue code = object.value(QStringLiteral("code"));
    if (!code.isDouble()) return std::nullopt;
    const double value = code.toDouble();
    if (!(value >= 0 && value <= 255) || std::floor(value) != value) return std::nullopt;
    const int key = static_cast<int>(value);
    if (!IsPanelKey(key)) return std::nullopt;
    return PageCommand{PageCommand::Kind::Key, key};
  }
  if (type == QStringLiteral("enter")) {
    const QJsonValue down = object.value(QStringLiteral("down"));
    if (!down.isBool()) return std::nullopt;
    return PageCommand{down.toBool() ? PageCommand::Kind::EnterDown : PageCommand::Kind::EnterUp, 0};
  }
  return std::nullopt;
}

}  // namespace WebMessages
