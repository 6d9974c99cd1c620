#include "mail_message.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string Base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string SubjectHeader(std::string subject) {
  std::replace(subject.begin(), subject.end(), '\r', ' ');
  std::replace(subject.begin(), subject.end(), '\n', ' ');
  const bool plain = std::all_of(subject.begin(), subject.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\0'; });
  return plain ? subject : "=?UTF-8?B?" + Base64(subject) + "?=";
}

// Bare LF and bare CR both become CRLF; a NUL byte is dropped (SMTP text may not carry it).
std::string BodyText(const std::string& body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 2);
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else if (c != '\0') {
      out += c;
    }
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

std::string DateHeader(std::time_t now) {
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  // The process never calls setlocale, so %a and %b are the English names RFC 5322 wants.
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
  return text;
}

std::string MessageId(const std::string& sender, std::time_t now) {
  const auto at = sender.rfind('@');
  const std::string domain = at == std::string::npos ? "localhost" : sender.substr(at + 1);
  static unsigned sequence = 0;
  char id[96];
  std::snprintf(id, sizeof id, "<%lld.%ld.%u.plowmail@", static_cast<long long>(now),
                static_cast<long>(getpid()), ++sequence);
  return id + domain + ">";
}

bool HostCharactersOk(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
  });
}

}  // namespace

std::string BuildMailMessage(const MailCommandLine& mail, std::time_t now) {
  std::string to;
  for (const auto& recipient : mail.recipients) to += (to.empty() ? "" : ", ") + recipient;
  std::string message;
  message += "Date: " + DateHeader(now) + "\r\n";
  message += "From: " + mail.sender + "\r\n";
  message += "To: " + to + "\r\n";
  message += "Subject: " + SubjectHeader(mail.subject) + "\r\n";
  message += "Message-ID: " + MessageId(mail.sender, now) + "\r\n";
  message += "MIME-Version: 1.0\r\n";
  message += "Content-Type: text/plain; charset=UTF-8\r\n";
  message += "Content-Transfer-Encoding: 8bit\r\n";
  message += "X-Mailer: plowmail\r\n";
  message += "\r\n";
  message += BodyText(mail.body);
  return message;
}

std::string RelayUrl(const std::string& relay, std::string& error) {
  if (relay.rfind("smtp://", 0) == 0 || relay.rfind("smtps://", 0) == 0) {
    const std::string rest = relay.substr(relay.find("://") + 3);
    if (!HostCharactersOk(rest.substr(0, rest.find('/')))) {
      error = "relay URL '" + relay + "' has no usable host";
      return {};
    }
    return relay;
  }
  if (!HostCharactersOk(relay)) {
    error = "relay '" + relay + "' is not a host name or address";
    return {};
  }
  // Two or more colons without brackets can only be a bare IPv6 address.
  if (relay.front() != '[' && std::count(relay.begin(), relay.end(), ':') > 1)
    return "smtp://[" + relay + "]";
  return "smtp://" + relay;
}
