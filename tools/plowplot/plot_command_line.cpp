#include "plot_command_line.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

bool IsOption(const std::string& token) {
  return token.size() >= 2 && token[0] == '-' &&
         std::string_view("fstq").find(token[1]) != std::string_view::npos &&
         (token.size() == 2 || token[2] == ' ' || token[2] == '\t' ||
          // "-t2", "-q0": attached digits; a bare "-5" would be a (bad) scale, not an option
          (token[1] != 'f' && token[1] != 's' && std::isdigit(static_cast<unsigned char>(token[2]))));
}

bool WholeNumber(const std::string& text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParsePlotCommandLine(const std::vector<std::string>& args, PlotCommandLine& out, std::string& error) {
  out = PlotCommandLine{};
  bool haveLog = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string token = Trim(args[i]);
    if (token.empty()) continue;
    if (token == "--help") {
      out.help = true;
      return true;
    }
    if (token.size() < 2 || token[0] != '-' ||
        std::string_view("fstq").find(token[1]) == std::string_view::npos) {
      error = "unknown argument '" + token + "'";
      return false;
    }
    const char option = token[1];
    std::string value;
    bool haveValue = false;
    if (token.size() > 2) {
      value = option == 'f' ? std::string(token.substr(2)) : Trim(std::string_view(token).substr(2));
      if (option == 'f') value = Trim(value);
      haveValue = true;
    } else if (i + 1 < args.size() && !(option == 's' && IsOption(Trim(args[i + 1])))) {
      value = option == 'f' ? args[++i] : Trim(args[++i]);
      haveValue = true;
    }
    switch (option) {
      case 'f':
        if (!haveValue || value.empty()) {
          error = "option -f needs the log file";
          return false;
        }
        out.logPath = value;
        haveLog = true;
        break;
      case 's': {
        if (value.empty()) break;
        double scale = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), scale);
        if (ec == std::errc() && end == value.data() + value.size() && std::isfinite(scale) && scale > 0)
          out.heightScale = scale;
        else
          out.scaleWarning =
              "height scale '" + value + "' is not a positive number of metres; using automatic";
        break;
      }
      case 't':
      case 'q': {
        int number = 0;
        if (!haveValue || !WholeNumber(value, number)) {
          error = std::string("option -") + option + " needs a whole number";
          return false;
        }
        if (option == 't') {
          if (number != 2) {
            error = "plot type " + value + " is not supported (2, the strip chart, is)";
            return false;
          }
          out.plotType = number;
        } else {
          out.quiet = number;
        }
        break;
      }
    }
  }
  if (!haveLog) {
    error = "no log file given (-f LOG)";
    return false;
  }
  return true;
}

const char* PlotUsage() {
  return "Usage: plowplot -f LOG [-s SCALE] [-t 2] [-q LEVEL]\n"
         "Draws the hour's strip chart of a text log as a PDF beside it (LOG without its\n"
         "extension, plus .pdf): height, horizontal speed, satellites used and PDOP over the\n"
         "GPS time of day, with the correction state (autonomous, DGPS, RTK float, RTK fixed)\n"
         "as a coloured band. Exits non-zero when the log cannot be read or the PDF written.\n"
         "  -f LOG     the text log\n"
         "  -s SCALE   metres spanned by the height axis, centred on the median height;\n"
         "             empty or left out: automatic\n"
         "  -t 2       plot type: the strip chart (the only one)\n"
         "  -q LEVEL   0 prints a one-line summary on stdout; anything else prints nothing\n";
}
