#include "replay_options.h"

#include <cerrno>
#include <cstdlib>

const char* ReplayUsage() {
  // One line, so that man page generators take all of it as the synopsis.
  return "Usage: plowview-replay --log-dir DIR [--prefix P] [--options WORD] [--dat] [--archive [--config "
         "PATH]] "
         "FILE.kavo...\n"
         "Regenerates the hourly text logs from raw packet logs (the \".kavo\" files a logging session\n"
         "keeps with \"Log KAVO\"): the frames are read back to back, through the packet parser and the\n"
         "logger, as one passive session over all FILEs in the order given. No command is sent and no\n"
         "periodic line (T, G, C) is made; every other line is written as the live session wrote it,\n"
         "into files named from the time packets (0x41) in the stream: PREFIX, the hour code\n"
         "(last digit of the year, month, day, hour UTC) and \".log\". An hour whose file exists is\n"
         "appended to after a new header. Packets before the first time packet are held and written\n"
         "into that first hour. A truncated last frame of a file is ignored.\n"
         "\n"
         "  --log-dir DIR    where the text logs go (created when missing; required)\n"
         "  --prefix P       logging prefix: file names and the station in the header (default A_)\n"
         "  --options WORD   the logging options word (\"m_logOptions\", decimal or 0x hex); the\n"
         "                   passive bit 0x80 is always added. 0x100 keeps NMEA sentences.\n"
         "  --dat            also write each hour's DAT file (\".dat\" beside the \".log\", with its\n"
         "                   \"_base.cmr\"), as a live session with \"Write DAT file\" does; the\n"
         "                   requests it would send go nowhere\n"
         "  --archive        run the archiving chain on each hour closed by the next one (zip,\n"
         "                   upload, plot, mail, as the archive settings of the settings file say);\n"
         "                   the program waits for it before it ends\n"
         "  --config PATH    the settings file for --archive (default: $XDG_CONFIG_HOME/Plowview.ini)\n"
         "  --help           show this text\n"
         "\n"
         "Prints the path of each log file written, one a line.\n"
         "A file that cannot be written (a full disk) is said once on stderr as \"cannot write PATH:\n"
         "REASON\"; the replay goes on, and what was lost is counted in the hour's manifest.\n"
         "\n"
         "Exit status: 0 done, 1 a log file could not be opened, or something could not be written\n"
         "(what could be was), 2 bad command line or an input that is missing or cannot be read.\n";
}

bool ParseReplayOptions(const std::vector<std::string>& args, ReplayOptions& options, std::string& error) {
  bool logDirGiven = false;
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
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--log-dir") {
      if (!value(options.logDir)) return false;
      logDirGiven = true;
    } else if (arg == "--prefix") {
      if (!value(options.prefix)) return false;
      if (options.prefix.empty() || options.prefix.find('/') != std::string::npos) {
        error = "the prefix must be a file name start without '/': " + options.prefix;
        return false;
      }
    } else if (arg == "--options") {
      std::string v;
      if (!value(v)) return false;
      char* end = nullptr;
      errno = 0;
      const unsigned long word = std::strtoul(v.c_str(), &end, 0);
      if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0 || word > 0xFFFFFFFFul) {
        error = "--options needs a number (decimal or 0x hex): " + v;
        return false;
      }
      options.options = static_cast<LogOptions>(word);
    } else if (arg == "--dat") {
      options.dat = true;
    } else if (arg == "--archive") {
      options.archive = true;
    } else if (arg == "--config") {
      if (!value(options.configPath)) return false;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      error = "unknown option: " + arg;
      return false;
    } else {
      if (arg == "--") {
        options.inputs.insert(options.inputs.end(), args.begin() + static_cast<long>(i) + 1, args.end());
        break;
      }
      options.inputs.push_back(arg);
    }
  }
  if (options.help) return true;
  if (!logDirGiven || options.logDir.empty()) {
    error = "--log-dir DIR is required";
    return false;
  }
  if (options.inputs.empty()) {
    error = "no raw packet log (FILE.kavo) given";
    return false;
  }
  return true;
}
