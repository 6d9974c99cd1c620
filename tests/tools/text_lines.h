#pragma once

#include <sstream>
#include <string>
#include <vector>

// `text` split at its line ends, as a program printed it.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
