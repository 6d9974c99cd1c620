#include "processor_usage.h"

#include <cmath>
#include <cstring>

#include "link/protocol/kavo_ids.h"
#include "link/protocol/kavo_packet.h"

namespace {

// Task names (at most two characters, as the report's 3-byte fields hold them) and each task's
// mean share of the processor in percent; what is left over is the idle task's.
struct TaskSpec {
  const char* name;
  double share;
};

constexpr std::array<TaskSpec, CProcessorUsage::kTasks> kTaskSpecs = {{
    {"ID", 0.0}, {"TR", 14.0}, {"NV", 9.0}, {"KF", 7.5}, {"RT", 6.0}, {"MP", 4.0}, {"CM", 3.5}, {"UI", 3.0},
    {"LC", 2.5}, {"PN", 2.0},  {"SR", 1.8}, {"CN", 1.6}, {"NM", 1.4}, {"FS", 1.2}, {"CF", 1.0}, {"EP", 0.9},
    {"AL", 0.8}, {"SV", 0.7},  {"TM", 0.6}, {"BT", 0.5}, {"DG", 0.4}, {"WD", 0.3}, {"PW", 0.2}, {"LG", 0.1},
}};

}  // namespace

bool CProcessorUsage::IsRequest(const KavoPacket& packet) {
  return packet.id == kavo::kIdSuperRequest && packet.length >= 3 && packet.data[0] == kavo::kSubSystem &&
         packet.data[1] == kavo::kSystemProcessorUsage;
}

void CProcessorUsage::Answer(const KavoPacket& packet, std::int64_t nowMs, const SendFn& send) {
  if (!IsRequest(packet)) return;
  switch (packet.data[2]) {
    case kActionRestart:
      restartMs = nowMs;
      break;
    case kActionStart:
    case kActionRequest:
      // The names go with every answer: a program that connects later still learns them.
      send(NameReport(), 1);
      send(UsageReport(nowMs), 1);
      break;
    default:
      break;
  }
}

KavoPacket CProcessorUsage::NameReport() {
  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.data[0] = kavo::kSubSystem;
  p.data[1] = kavo::kSystemProcessorUsage;
  p.data[2] = kNameReport;
  p.data[3] = kTasks;
  std::size_t at = 4;
  for (const TaskSpec& task : kTaskSpecs) {
    std::memset(p.data + at, 0, 3);
    std::memcpy(p.data + at, task.name, std::strlen(task.name));
    at += 3;
  }
  p.length = static_cast<std::uint16_t>(at);
  return p;
}

KavoPacket CProcessorUsage::UsageReport(std::int64_t nowMs) const {
  const double elapsed = static_cast<double>(nowMs > restartMs ? nowMs - restartMs : 0) / 1000.0;
  // Each busy task swings around its mean with a period of its own; idle takes the rest.
  std::array<double, kTasks> percent{};
  double busy = 0.0;
  for (std::size_t i = 1; i < kTaskSpecs.size(); ++i) {
    const double swing = 0.35 * std::sin(elapsed / (3.0 + static_cast<double>(i)) + static_cast<double>(i));
    percent[i] = kTaskSpecs[i].share * (1.0 + swing);
    busy += percent[i];
  }
  percent[0] = busy < 100.0 ? 100.0 - busy : 0.0;

  KavoPacket p;
  p.id = kavo::kIdSuperReport;
  p.data[0] = kavo::kSubSystem;
  p.data[1] = kavo::kSystemProcessorUsage;
  p.data[2] = kUsageReport;
  PutBeDouble(p.data + 3, elapsed);
  p.data[11] = kTasks;
  std::size_t at = 12;
  for (std::size_t i = 0; i < percent.size(); ++i) {
    PutBeFloat(p.data + at, static_cast<float>(percent[i]));
    PutBeFloat(p.data + at + 4, static_cast<float>(percent[i] / 100.0 * elapsed));
    at += 8;
  }
  p.length = static_cast<std::uint16_t>(at);
  return p;
}
