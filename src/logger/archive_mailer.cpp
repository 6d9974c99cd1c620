#include "logger/archive_mailer.h"

#include <utility>
#include <vector>

#include "logger/archive_process.h"
#include "logger/archive_url.h"

namespace {

constexpr const char* kSubjectTag = "PLV: ";

}  // namespace

CArchiveMailer::CArchiveMailer(CArchiveSettings settings, ArchiveTools tools)
    : settings(std::move(settings)), tools(std::move(tools)) {}

std::string CArchiveMailer::TaggedSubject(const std::string& subject) {
  // Callers name most subjects with the tag already; it is not doubled.
  if (subject.rfind(kSubjectTag, 0) == 0) return subject;
  return kSubjectTag + subject;
}

bool CArchiveMailer::HoldsSecret(const std::string& body) const {
  if (settings.ftpPassword.empty()) return false;
  return body.find(settings.ftpPassword) != std::string::npos ||
         body.find(EscapeFtpUserInfo(settings.ftpPassword)) != std::string::npos;
}

bool CArchiveMailer::SendStatusMail(const std::string& subject, const std::string& body) const {
  if (!settings.emailStatus) return true;
  if (settings.emailAddress.find('@') == std::string::npos) return false;
  const bool secret = HoldsSecret(body);
  std::vector<std::string> argv{
      tools.mail, "-s", tools.mailRelay,        "-t", settings.emailAddress,           "-f", tools.mailFrom,
      "-h",       "-a", TaggedSubject(subject), "-b", secret ? std::string("-") : body};
  return RunArchiveProgram(argv, secret ? body : std::string()) == 0;
}
