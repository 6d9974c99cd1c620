#pragma once

#include <ctime>
#include <string>

#include "mail_command_line.h"

// The whole message as it goes after DATA: header block, blank line, body, every line ending in
// CRLF. Line breaks inside the subject become blanks (a raw one would end the header and let the
// rest be read as headers); a subject with bytes above 0x7F goes out as one UTF-8 encoded word.
// Dot-stuffing is left to the SMTP transfer.
std::string BuildMailMessage(const MailCommandLine& mail, std::time_t now);

// The libcurl URL for the relay: "smtp://host:port" for host or host:port, an IPv6 address put in
// brackets; an smtp:// or smtps:// URL as given. Empty with a reason when the relay cannot be a host
// (blanks, '/', '@' or other characters that would change what the URL means).
std::string RelayUrl(const std::string& relay, std::string& error);
