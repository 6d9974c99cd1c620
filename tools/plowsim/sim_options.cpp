#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool ParseSeconds(const std::string& text, std::int64_t& ms) {
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !(seconds >= 0) || seconds > 1e9) return false;
  ms = std::llround(seconds * 1000.0);
  return true;
}

bool ParseInt(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

}  // namespace

const char* SimUsage() {
  return "Usage: plowsim --pty PATH [options]\n"
         "  or:  plowsim --tcp PORT [options]\n"
         "  or:  plowsim --can PLUGIN:INTERFACE [--can-address N] [options]\n"
         "A simulated receiver that speaks KAVO on a pseudo-terminal, for tests and demos.\n"
         "It creates a pseudo-terminal pair, makes PATH a symbolic link to its slave side (an old\n"
         "link there is replaced), prints PATH on stdout once it is ready and serves one receiver\n"
         "until SIGINT or SIGTERM, then removes the link.\n"
         "\n"
         "  --pty PATH               where to put the link to the serial device\n"
         "  --tcp PORT               instead of a pty, serve the receiver on TCP PORT as a relay\n"
         "                           server does (stream messages; 0: a free port); prints the port\n"
         "  --can PLUGIN:INTERFACE   instead of a pty, be a J1939 receiver node on that CAN bus\n"
         "                           (virtualcan:can0 for tests); prints PLUGIN:INTERFACE\n"
         "  --can-address N          with --can: the J1939 address to claim (1-253, default 28)\n"
         "  --trace FILE             write one line per packet and event to FILE (see README.md)\n"
         "  --baud N                 the receiver's port speed: 2400, 4800, 9600 (default), 19200,\n"
         "                           38400, 57600 or 115200\n"
         "  --parity P               the receiver's port parity: N (default), O or E\n"
         "  --no-auto-config         ignore the program's break (no port report is sent)\n"
         "  --start-time ISO8601     simulated UTC at start, e.g. 2026-12-09T14:30:00Z (default: now)\n"
         "  --time-scale X           simulated seconds per real second (default 1)\n"
         "  --rate HZ                navigation output epochs per second while the program has\n"
         "                           switched the outputs on (default 1, at most 50)\n"
         "  --silent-after SECONDS   stop answering after SECONDS\n"
         "  --fatal-after SECONDS TEXT\n"
         "                           send a fatal error report with TEXT after SECONDS\n"
         "  --garbage-every N        put a burst of noise bytes before every Nth frame sent\n"
         "  --q0x FILE               the raw measurement file the receiver streams once the\n"
         "                           program asks for it (0x8E 93 14 01 01), until it stops it\n"
         "  --files DIR              serve the data folder \"A:\\gpsData\\\" from DIR to the program's\n"
         "                           file transfer (list, open, read, close, delete)\n"
         "  --drop-every N           with --files: lose every Nth open, read or close answer\n"
         "  --card-script FILE       once the program shows the panel, play FILE's remote file\n"
         "                           requests against it (its card folder) and check the answers;\n"
         "                           PASS/FAIL lines go to stderr and plowsim exits when it is done\n"
         "                           (0 all passed, 3 a step failed); see card_script.txt\n"
         "  --pace BAUD              send no faster than a serial line of BAUD (10 bits a byte)\n"
         "  --drop-after SECONDS     with --return-after: the line goes away after SECONDS of\n"
         "  --return-after SECONDS   service (the pty and its link are removed, or the TCP port\n"
         "                           and its clients closed) and comes back on the same path or\n"
         "                           port after the other SECONDS, over and over; fractions allowed\n"
         "  --first-drop-after SECONDS  the first time away comes after SECONDS instead (a program\n"
         "                           that needs long to connect the first time)\n"
         "  --help                   show this text\n"
         "\n"
         "The program is heard only while its end of the line has the receiver's speed and, odd or\n"
         "not, its parity (a pty keeps no more of the settings); otherwise both directions are lost\n"
         "(traced as GARBLED). A break, seen on the pty as the program clearing both its buffers,\n"
         "drops the receiver's port to 9600 8N1 and brings the port report; the text\n"
         "\"FAST LINK SWITCH REQUEST\" moves the port to 38400 8O1.\n"
         "\n"
         "Front panel keys: Up/Left previous screen, Down/Right next screen, Escape home, Enter\n"
         "edits the antenna height (Up/Down change a digit, Left/Right move, Enter stores, Escape\n"
         "cancels), Enter held opens the service screen.\n"
         "\n"
         "Exit status: 0 after a signal or a passed card script, 1 when the pseudo-terminal or the\n"
         "trace cannot be made, 2 for a bad command line, 3 after a failed card script.\n";
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--pty") {
      if (!value(options.ptyPath)) return false;
    } else if (arg == "--can") {
      if (!value(v)) return false;
      const std::size_t colon = v.find(':');
      if (colon == 0 || colon == std::string::npos || colon + 1 == v.size()) {
        error = "--can needs PLUGIN:INTERFACE, e.g. virtualcan:can0: " + v;
        return false;
      }
      options.canBus = v;
    } else if (arg == "--can-address") {
      long address = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, 1, 253, address)) {
        error = "--can-address needs an address from 1 to 253: " + v;
        return false;
      }
      options.canAddress = static_cast<int>(address);
    } else if (arg == "--tcp") {
      long tcp = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, 0, 65535, tcp)) {
        error = "--tcp needs a port from 0 to 65535: " + v;
        return false;
      }
      options.tcpPort = static_cast<int>(tcp);
    } else if (arg == "--trace") {
      if (!value(options.tracePath)) return false;
    } else if (arg == "--baud") {
      long baud = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, 1, 4000000, baud) || !IsSupportedBaud(static_cast<int>(baud))) {
        error = "unsupported baud rate: " + v;
        return false;
      }
      options.receiver.port.baud = static_cast<int>(baud);
    } else if (arg == "--parity") {
      if (!value(v)) return false;
      if (v != "N" && v != "O" && v != "E") {
        error = "parity must be N, O or E: " + v;
        return false;
      }
      options.receiver.port.parity = v[0];
    } else if (arg == "--no-auto-config") {
      options.receiver.autoConfig = false;
    } else if (arg == "--start-time") {
      if (!value(v)) return false;
      if (!ParseIsoUtc(v, options.receiver.startUtcMs)) {
        error = "not a UTC time like 2026-12-09T14:30:00Z: " + v;
        return false;
      }
      options.startTimeGiven = true;
    } else if (arg == "--time-scale") {
      if (!value(v)) return false;
      char* end = nullptr;
      const double scale = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(scale > 0) || scale > 1e6) {
        error = "time scale must be a positive number: " + v;
        return false;
      }
      options.receiver.timeScale = scale;
    } else if (arg == "--rate") {
      if (!value(v)) return false;
      char* end = nullptr;
      const double rate = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(rate > 0) || rate > 50) {
        error = "rate must be a number of epochs per second, above 0 and at most 50: " + v;
        return false;
      }
      options.receiver.streamRateHz = rate;
    } else if (arg == "--silent-after") {
      if (!value(v)) return false;
      if (!ParseSeconds(v, options.receiver.silentAfterMs)) {
        error = "not a number of seconds: " + v;
        return false;
      }
    } else if (arg == "--fatal-after") {
      if (!value(v)) return false;
      if (!ParseSeconds(v, options.receiver.fatalAfterMs)) {
        error = "not a number of seconds: " + v;
        return false;
      }
      if (i + 1 >= args.size()) {
        error = "--fatal-after needs SECONDS and TEXT";
        return false;
      }
      options.receiver.fatalText = args[++i];
    } else if (arg == "--q0x") {
      if (!value(v)) return false;
      options.receiver.q0xPath = v;
    } else if (arg == "--garbage-every") {
      long every = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, 1, 1000000, every)) {
        error = "--garbage-every needs a count of at least 1: " + v;
        return false;
      }
      options.garbageEvery = static_cast<int>(every);
    } else if (arg == "--files") {
      if (!value(options.filesDir)) return false;
    } else if (arg == "--card-script") {
      if (!value(options.cardScript)) return false;
    } else if (arg == "--drop-after" || arg == "--return-after" || arg == "--first-drop-after") {
      std::int64_t ms = 0;
      if (!value(v)) return false;
      if (!ParseSeconds(v, ms) || ms < 1) {
        error = arg + " needs a number of seconds of at least 0.001: " + v;
        return false;
      }
      (arg == "--drop-after"     ? options.dropAfterMs
       : arg == "--return-after" ? options.returnAfterMs
                                 : options.firstDropAfterMs) = ms;
    } else if (arg == "--drop-every" || arg == "--pace") {
      long n = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, 1, 4000000, n)) {
        error = arg + " needs a number of at least 1: " + v;
        return false;
      }
      (arg == "--pace" ? options.paceBaud : options.dropEvery) = static_cast<int>(n);
    } else {
      error = "unknown argument: " + arg;
      return false;
    }
  }
  if ((options.dropAfterMs > 0) != (options.returnAfterMs > 0) ||
      (options.firstDropAfterMs > 0 && options.dropAfterMs == 0)) {
    error = "--drop-after and --return-after go together (and --first-drop-after with them)";
    return false;
  }
  if (options.dropEvery > 0 && options.filesDir.empty()) {
    error = "--drop-every needs --files: only file transfer answers are lost";
    return false;
  }
  const int transports = !options.ptyPath.empty() + (options.tcpPort >= 0) + !options.canBus.empty();
  if (!options.help && transports != 1) {
    error = "one of --pty PATH, --tcp PORT or --can PLUGIN:INTERFACE is required";
    return false;
  }
  return true;
}
