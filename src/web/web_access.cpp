#include "web/web_access.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QUrl>

bool TokensEqual(std::string_view given, std::string_view expected) {
  if (expected.empty()) return false;
  // Every byte of `given` is looked at whatever the outcome; a length mismatch only spoils the sum.
  std::size_t difference = given.size() ^ expected.size();
  for (std::size_t i = 0; i < given.size(); ++i)
    difference |=
        static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(expected[i % expected.size()]);
  return difference == 0;
}

WebAccess AccessForToken(const std::optional<std::string>& token, const std::string& controlToken,
                         const std::string& viewToken) {
  if (!token || token->empty()) return viewToken.empty() ? WebAccess::View : WebAccess::Refused;
  // Both comparisons always run, so the time does not tell which token came close.
  const bool control = TokensEqual(*token, controlToken);
  const bool view = TokensEqual(*token, viewToken);
  if (control) return WebAccess::Control;
  if (view) return WebAccess::View;
  return WebAccess::Refused;
}

bool OriginAllowed(const QString& origin, const QStringList& hosts, std::uint16_t port, bool tls) {
  const QUrl url(origin, QUrl::StrictMode);
  if (!url.isValid() || !url.path().isEmpty() || url.hasQuery() || !url.userInfo().isEmpty()) return false;
  const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
  if (url.scheme() != scheme) return false;
  if (url.port(tls ? 443 : 80) != port) return false;
  const QString host = url.host();
  if (host.isEmpty()) return false;
  for (const QString& allowed : hosts)
    if (host.compare(allowed, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QStringList LocalHostNames() {
  QStringList names{QStringLiteral("localhost")};
  const QString host = QHostInfo::localHostName();
  if (!host.isEmpty()) {
    names << host << host + QStringLiteral(".local");
    const QString domain = QHostInfo::localDomainName();
    if (!domain.isEmpty()) names << host + QLatin1Char('.') + domain;
  }
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    QHostAddress plain(address);
    plain.setScopeId(QString());
    names << plain.toString();
  }
  return names;
}

bool IsLoopbackAddress(const std::string& bindAddress) {
  if (bindAddress == "localhost") return true;
  QHostAddress address;
  if (bindAddress.empty() || !address.setAddress(QString::fromStdString(bindAddress))) return false;
  return address.isLoopback();
}

std::string MakeRandomToken() {
  quint32 words[4];
  QRandomGenerator::system()->fillRange(words);
  const QByteArray bytes(reinterpret_cast<const char*>(words), sizeof words);
  return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}
