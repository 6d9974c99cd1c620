#pragma once

#include <string>
#include <vector>

// What the archiving chain asks plowmail to send:
//   plowmail -s RELAY[:PORT] -t RECIPIENT -f SENDER -h -a SUBJECT -b BODY [--timeout SECONDS]
struct MailCommandLine {
  std::string relay;                    // host, host:port, [v6]:port, or an smtp:// / smtps:// URL
  std::vector<std::string> recipients;  // -t, split at ',' and ';'
  std::string sender;                   // -f
  std::string subject;                  // -a
  std::string body;                     // -b
  bool headers = false;                 // -h: accepted; the header block is always written
  long timeoutSeconds = 60;             // the whole session, connect included
  bool help = false;
};

// Fills `out` from the arguments after the program name. Each option token may carry leading or
// trailing blanks and its value may be attached ("-shost") or the next argument; a value wrapped
// in one pair of double quotes loses them, as a Windows command line would have stripped them.
// Returns false with a one-line reason in `error` for an unknown option, a missing value, a
// missing -s/-t/-f, or an address without '@'.
bool ParseMailCommandLine(const std::vector<std::string>& args, MailCommandLine& out, std::string& error);

const char* MailUsage();
