#pragma once

#include <string>
#include <vector>

// Sends `message` (already in its final CRLF form) in one SMTP session to `url` with libcurl.
// Returns true once the relay has accepted the DATA; false with a one-line reason in `error`
// when the relay cannot be reached, rejects the sender or any recipient, or the whole session
// takes longer than `timeoutSeconds`. The caller has run curl_global_init.
bool SendSmtpMessage(const std::string& url, const std::string& sender,
                     const std::vector<std::string>& recipients, const std::string& message,
                     long timeoutSeconds, std::string& error);
