#pragma once

#include <optional>
#include <string>
#include <vector>

// What the archiving chain asks plowplot to draw:
//   plowplot -f LOG -s [SCALE] -t 2 -q 0
struct PlotCommandLine {
  std::string logPath;                // -f
  std::optional<double> heightScale;  // -s: metres spanned by the height axis; empty: automatic
  std::string scaleWarning;           // set when -s was given something other than a positive number
  int plotType = 2;                   // -t: 2, the strip chart, is the only type
  int quiet = 0;                      // -q: 0 prints a one-line summary on stdout
  bool help = false;
};

// Fills `out` from the arguments after the program name. Tokens may carry blanks around them and
// an option's value may be attached ("-t2"), follow after a blank inside the same token ("-t 2"),
// or be the next argument. -s takes an empty value, and no value at all when the next argument is
// another option. Returns false with a one-line reason for an unknown option, a missing -f, or a
// -t/-q value that is not a whole number; a scale that is not a positive number only sets
// scaleWarning, so the chart is still drawn, on an automatic scale.
bool ParsePlotCommandLine(const std::vector<std::string>& args, PlotCommandLine& out, std::string& error);

const char* PlotUsage();
