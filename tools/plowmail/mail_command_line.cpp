#include "mail_command_line.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace {

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string Unquote(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

// An address goes into the SMTP envelope between angle brackets and into a header line, so
// anything that could end either is refused rather than passed on.
bool AddressOk(const std::string& address, const char* what, std::string& error) {
  if (address.find('@') == std::string::npos) {
    error = std::string(what) + " address '" + address + "' has no '@'; nothing sent";
    return false;
  }
  if (address.find_first_of("<>\r\n \t\"") != std::string::npos) {
    error = std::string(what) + " address '" + address + "' contains characters not allowed in an address";
    return false;
  }
  return true;
}

std::vector<std::string> SplitRecipients(const std::string& list) {
  std::vector<std::string> parts;
  std::string current;
  for (const char c : list + ",") {
    if (c == ',' || c == ';') {
      std::string part = Trim(current);
      if (!part.empty()) parts.push_back(std::move(part));
      current.clear();
    } else {
      current += c;
    }
  }
  return parts;
}

}  // namespace

bool ParseMailCommandLine(const std::vector<std::string>& args, MailCommandLine& out, std::string& error) {
  out = MailCommandLine{};
  bool haveRelay = false, haveRecipient = false, haveSender = false;
  std::string recipientList;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string token = Trim(args[i]);
    if (token.empty()) continue;
    if (token == "--help") {
      out.help = true;
      return true;
    }
    if (token == "-h") {
      out.headers = true;
      continue;
    }
    if (token == "--timeout") {
      if (i + 1 >= args.size()) {
        error = "option --timeout needs a value";
        return false;
      }
      const std::string value = Trim(args[++i]);
      char* end = nullptr;
      errno = 0;
      const long seconds = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 3600) {
        error = "--timeout wants whole seconds from 1 to 3600, not '" + value + "'";
        return false;
      }
      out.timeoutSeconds = seconds;
      continue;
    }
    if (token.size() < 2 || token[0] != '-' ||
        std::string_view("stfab").find(token[1]) == std::string_view::npos) {
      error = "unknown argument '" + token + "'";
      return false;
    }
    std::string value;
    if (token.size() > 2) {
      value = std::string(token.substr(2));
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "option " + token + " needs a value";
      return false;
    }
    // Subject and body keep their blanks; host and addresses never have meaningful ones.
    if (token[1] == 's' || token[1] == 't' || token[1] == 'f') value = Trim(value);
    value = Unquote(value);
    switch (token[1]) {
      case 's':
        out.relay = Trim(value);
        haveRelay = true;
        break;
      case 't':
        recipientList = value;
        haveRecipient = true;
        break;
      case 'f':
        out.sender = Trim(value);
        haveSender = true;
        break;
      case 'a':
        out.subject = value;
        break;
      case 'b':
        out.body = value;
        break;
    }
  }
  if (!haveRelay || out.relay.empty()) {
    error = "no mail relay given (-s HOST[:PORT])";
    return false;
  }
  if (!haveRecipient) {
    error = "no recipient given (-t ADDRESS)";
    return false;
  }
  if (!haveSender) {
    error = "no sender given (-f ADDRESS)";
    return false;
  }
  out.recipients = SplitRecipients(recipientList);
  if (out.recipients.empty()) out.recipients.push_back(recipientList);
  for (const auto& recipient : out.recipients)
    if (!AddressOk(recipient, "recipient", error)) return false;
  return AddressOk(out.sender, "sender", error);
}

const char* MailUsage() {
  return "Usage: plowmail -s RELAY[:PORT] -t RECIPIENT -f SENDER [-h] [-a SUBJECT] [-b BODY] [--timeout "
         "SECONDS]\n"
         "Sends one plain-text message over SMTP through the relay and exits 0 once the relay\n"
         "has accepted it; otherwise exits non-zero with a one-line reason on stderr.\n"
         "  -s RELAY     relay host, host:port, [IPv6]:port, or an smtp:// or smtps:// URL (port 25)\n"
         "  -t ADDRESS   recipient; several separated by ',' or ';'. Every address needs an '@'\n"
         "  -f ADDRESS   sender\n"
         "  -h           write the header block (always done; accepted for the archiving chain)\n"
         "  -a SUBJECT   subject line\n"
         "  -b BODY      message text; line breaks in it are kept; \"-\" reads it from standard input\n"
         "  --timeout S  give up after S seconds, connecting included (default 60)\n"
         "Values wrapped in one pair of double quotes lose the quotes.\n";
}
