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
  std::string canBus;     // --can PLUGIN:INTERFACE: a J1939 node on that CAN bus instead of a pty
  int canAddress = 28;    // --can-address: the J1939 address the node claims
  ReceiverOptions receiver;
  bool startTimeGiven = false;        // --start-time; otherwise the caller fills receiver.startUtcMs
  int garbageEvery = 0;               // --garbage-every: noise before every Nth frame; 0 never
  std::string filesDir;               // --files: the data folder's files; empty for no file transfer
  int dropEvery = 0;                  // --drop-every: lose every Nth file transfer reply; 0 never
  std::string cardScript;             // --card-script: remote file requests played against the program
  int paceBaud = 0;                   // --pace: send no faster than a line of this speed; 0 at once
  std::int64_t dropAfterMs = 0;       // --drop-after: the line goes away after this much service; 0 never
  std::int64_t returnAfterMs = 0;     // --return-after: and comes back after this long away
  std::int64_t firstDropAfterMs = 0;  // --first-drop-after: the first time away after this; 0: dropAfterMs
  bool help = false;
};

// Parses the arguments after the program name. False with `error` set on a bad command line.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// The text of --help.
const char* SimUsage();
