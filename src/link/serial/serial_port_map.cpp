#include "link/serial/serial_port_map.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

// The number after `prefix` in `name` when the rest is all digits ("ttyUSB12" -> 12), else -1.
long DeviceNumber(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return -1;
  long n = 0;
  for (char c : name.substr(prefix.size())) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

CSerialPortMap CSerialPortMap::Detected() {
  CSerialPortMap map;
  const std::vector<std::string> devices = FindDevices();
  for (int slot = 0; slot < kSlotCount && slot < static_cast<int>(devices.size()); ++slot)
    map.paths[slot] = devices[slot];
  return map;
}

std::vector<std::string> CSerialPortMap::FindDevices(const std::string& devDir) {
  static constexpr std::string_view kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
  std::vector<std::pair<long, std::string>> groups[std::size(kPrefixes)];
  std::error_code ec;
  for (std::filesystem::directory_iterator it(devDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    for (std::size_t g = 0; g < std::size(kPrefixes); ++g) {
      const long n = DeviceNumber(name, kPrefixes[g]);
      if (n >= 0) groups[g].emplace_back(n, it->path().string());
    }
  }
  std::vector<std::string> found;
  for (auto& group : groups) {
    std::sort(group.begin(), group.end());
    for (auto& entry : group) found.push_back(std::move(entry.second));
  }
  return found;
}

const std::string& CSerialPortMap::Path(int slot) const {
  static const std::string kNone;
  return slot >= 0 && slot < kSlotCount ? paths[slot] : kNone;
}

bool CSerialPortMap::SetPath(int slot, const std::string& path) {
  if (slot < 0 || slot >= kSlotCount) return false;
  paths[slot] = path;
  return true;
}

std::string CSerialPortMap::SlotKey(int slot) {
  if (slot < 0 || slot >= kSlotCount) return {};
  return "COM" + std::to_string(slot + 1);
}

std::vector<CSerialPortMap::StableDevice> CSerialPortMap::FindStableDevices(const std::string& dir) {
  std::vector<StableDevice> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    found.push_back({it->path().string(), AdapterName(name)});
  }
  std::sort(found.begin(), found.end(),
            [](const StableDevice& a, const StableDevice& b) { return a.path < b.path; });
  return found;
}

std::string CSerialPortMap::AdapterName(const std::string& linkName) {
  std::string_view name = linkName;
  for (std::string_view bus : {"usb-", "pci-", "platform-"}) {
    if (name.substr(0, bus.size()) == bus) {
      name.remove_prefix(bus.size());
      break;
    }
  }
  // Trailing "-if00" and "-port0" parts name the interface, not the adapter.
  for (bool cut = true; cut;) {
    cut = false;
    const std::size_t dash = name.rfind('-');
    if (dash == std::string_view::npos) break;
    const std::string_view tail = name.substr(dash + 1);
    for (std::string_view part : {"if", "port"}) {
      if (tail.size() > part.size() && tail.substr(0, part.size()) == part &&
          std::all_of(tail.begin() + static_cast<std::ptrdiff_t>(part.size()), tail.end(),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        name = name.substr(0, dash);
        cut = true;
        break;
      }
    }
  }
  std::string out(name.empty() ? std::string_view(linkName) : name);
  std::replace(out.begin(), out.end(), '_', ' ');
  return out;
}

int CSerialPortMap::SlotFor(const std::string& path, int fallback) const {
  for (int slot = 0; slot < kSlotCount; ++slot)
    if (paths[slot] == path) return slot;
  std::error_code ec;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!paths[slot].empty() && std::filesystem::equivalent(paths[slot], path, ec) && !ec) return slot;
  }
  for (int slot = 0; slot < kSlotCount; ++slot)
    if (paths[slot].empty()) return slot;
  return fallback >= 0 && fallback < kSlotCount ? fallback : 0;
}
