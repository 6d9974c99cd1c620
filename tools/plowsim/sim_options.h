#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "receiver_model.h"

// The command line of plowsim.
struct SimOptions {
  std::string ptyPath;    // --pty: where the link to the slave side goes
  std::string tracePath;  // --trace: empty for none
  int tcpPort = -1;       // --tcp: serve on this TCP port (0: any free one) instead of a pty; -1 none
  ReceiverOptions receiver;
  bool startTimeGiven = false;  // --start-time; otherwise the caller fills receiver.startUtcMs
  int garbageEvery = 0;         // --garbage-every: noise before every Nth frame; 0 never
  bool help = false;
};

// Parses the arguments after the program name. False with `error` set on a bad command line.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// The text of --help.
const char* SimUsage();
