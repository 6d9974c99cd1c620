#include "app/headless_can_selector.h"

#include <cstdlib>
#include <string>
#include "app/stderr_lines.h"

CHeadlessCanSelector::CHeadlessCanSelector(int wantedAddress, std::FILE* errOut)
    : wanted(wantedAddress), err(errOut) {}

int CHeadlessCanSelector::SelectDevice(const std::vector<std::string>& entries) {
  std::string list;
  for (const std::string& entry : entries) list += (list.empty() ? "" : ", ") + entry;
  int chosen = wanted < 0 && !entries.empty() ? 0 : -1;
  for (std::size_t i = 0; chosen < 0 && wanted >= 0 && i < entries.size(); ++i)
    if (std::atoi(entries[i].c_str()) == wanted) chosen = static_cast<int>(i);
  if (chosen < 0) {
    WriteStderrLine("CAN receiver " + std::to_string(wanted) + " not found (found: " + list + ")", err);
  } else {
    WriteStderrLine(
        "CAN receiver " + entries[static_cast<std::size_t>(chosen)] + " chosen (found: " + list + ")", err);
  }
  return chosen;
}
