#include "smtp_sender.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct Upload {
  const std::string* text;
  std::size_t offset;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const std::size_t n = std::min(size * count, upload->text->size() - upload->offset);
  std::memcpy(buffer, upload->text->data() + upload->offset, n);
  upload->offset += n;
  return n;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

bool SendSmtpMessage(const std::string& url, const std::string& sender,
                     const std::vector<std::string>& recipients, const std::string& message,
                     long timeoutSeconds, std::string& error) {
  std::unique_ptr<curl_slist, ListDeleter> rcpt;
  for (const auto& recipient : recipients) {
    curl_slist* grown = curl_slist_append(rcpt.get(), ("<" + recipient + ">").c_str());
    if (!grown) {
      error = "out of memory";
      return false;
    }
    rcpt.release();
    rcpt.reset(grown);
  }
  Upload upload{&message, 0};
  char detail[CURL_ERROR_SIZE] = {};
  // Declared after everything it is given, so the handle is cleaned up while they still exist.
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    error = "cannot start libcurl";
    return false;
  }
  CURL* h = curl.get();
  const std::string from = "<" + sender + ">";
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  // Only mail protocols: a relay setting must never turn this into a file or HTTP transfer.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(h, CURLOPT_READDATA, &upload);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::min(timeoutSeconds, 20L));
  curl_easy_setopt(h, CURLOPT_TIMEOUT, timeoutSeconds);

  const CURLcode result = curl_easy_perform(h);
  if (result == CURLE_OK) return true;
  long response = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
  error = "sending through " + url + " failed: " + curl_easy_strerror(result);
  std::string more = detail;
  std::replace(more.begin(), more.end(), '\n', ' ');
  std::replace(more.begin(), more.end(), '\r', ' ');
  while (!more.empty() && more.back() == ' ') more.pop_back();
  if (!more.empty() && more != curl_easy_strerror(result)) error += " (" + more + ")";
  if (response != 0) error += " [last reply " + std::to_string(response) + "]";
  return false;
}
