// plowmail: sends one status message over SMTP for the archiving chain. See --help.

#include <curl/curl.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "mail_command_line.h"
#include "mail_message.h"
#include "smtp_sender.h"

namespace {
constexpr std::size_t kMaxStdinBody = 1 << 20;
}  // namespace

int main(int argc, char** argv) {
  MailCommandLine mail;
  std::string error;
  if (!ParseMailCommandLine(std::vector<std::string>(argv + 1, argv + argc), mail, error)) {
    std::fprintf(stderr, "plowmail: %s\n", error.c_str());
    return 2;
  }
  if (mail.help) {
    std::fputs(MailUsage(), stdout);
    return 0;
  }
  // "-b -": the body comes on standard input, so text such as a password stays out of the process list.
  if (mail.body == "-") {
    mail.body.clear();
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0 && mail.body.size() < kMaxStdinBody)
      mail.body.append(chunk, n);
    if (mail.body.size() > kMaxStdinBody) mail.body.resize(kMaxStdinBody);
  }
  const std::string url = RelayUrl(mail.relay, error);
  if (url.empty()) {
    std::fprintf(stderr, "plowmail: %s\n", error.c_str());
    return 2;
  }
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fputs("plowmail: cannot initialise libcurl\n", stderr);
    return 1;
  }
  const std::string message = BuildMailMessage(mail, std::time(nullptr));
  const bool sent = SendSmtpMessage(url, mail.sender, mail.recipients, message, mail.timeoutSeconds, error);
  curl_global_cleanup();
  if (!sent) {
    std::fprintf(stderr, "plowmail: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
