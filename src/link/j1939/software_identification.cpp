#include "link/j1939/software_identification.h"

#include <cstdio>
#include <cstring>

namespace {

struct CapabilityWord {
  std::uint8_t bit;
  const char* word;
};
constexpr CapabilityWord kCapabilityWords[] = {{kCapabilityJ1939, ",J1939"},
                                               {kCapabilityKvcan, ",KVCAN"},
                                               {kCapabilityIso11783, ",ISO11783"},
                                               {kCapabilityNmea2000, ",NMEA2000"},
                                               {kCapabilityCanIp, ",CANip"}};

}  // namespace

std::string FormatSoftwareIdentification(const SoftwareIdentification& id) {
  char head[96];
  std::snprintf(head, sizeof head, "%s%hu,%hu;%s%hu.%02hu,%02hu/%02hu/%02hu;%s", "QRXID,", id.qrxFirst,
                id.qrxSecond, "VER,", id.versionMajor, id.versionMinor, id.month, id.day, id.year, "COM");
  std::string text = head;
  for (const auto& c : kCapabilityWords) {
    if ((id.capabilities & c.bit) == 0) continue;
    text += c.word;
    if (id.plusMarks & c.bit) text += "(+)";
  }
  char tail[48];
  const auto& n = id.name;
  const int written = std::snprintf(
      tail, sizeof tail, ";%s%02hx%02hx%02hx%02hx%02hx%02hx%02hx%02hx;%c", "NAME,",
      static_cast<unsigned short>(n[0]), static_cast<unsigned short>(n[1]), static_cast<unsigned short>(n[2]),
      static_cast<unsigned short>(n[3]), static_cast<unsigned short>(n[4]), static_cast<unsigned short>(n[5]),
      static_cast<unsigned short>(n[6]), static_cast<unsigned short>(n[7]), 0);
  // The %c writes a NUL that strlen would not count: take the length snprintf reports.
  text.append(tail, written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

bool ParseSoftwareIdentification(const std::uint8_t* body, std::size_t length, SoftwareIdentification& out) {
  if (body == nullptr) return false;
  // The text ends at the first NUL; copying it into a string gives sscanf a terminated buffer.
  const void* nul = std::memchr(body, 0, length);
  const std::size_t textLength =
      nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - body) : length;
  const std::string text(reinterpret_cast<const char*>(body), textLength);

  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('*', start);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(start, end - start);
    start = end + 1;
    if (field.rfind("QRXID,", 0) != 0) continue;

    SoftwareIdentification id;
    // "%*6s" skips the six characters "QRXID,".
    if (std::sscanf(field.c_str(), "%*6s%hu,%hu;", &id.qrxFirst, &id.qrxSecond) != 2) return false;
    if (const auto ver = field.find("VER,"); ver != std::string::npos) {
      id.hasVersion = std::sscanf(field.c_str() + ver + 4, "%hu.%2hu,%2hu/%2hu/%2hu;", &id.versionMajor,
                                  &id.versionMinor, &id.month, &id.day, &id.year) == 5;
    }
    if (const auto com = field.find("COM"); com != std::string::npos) {
      const auto comEnd = field.find(';', com);
      const std::string list =
          field.substr(com + 3, comEnd == std::string::npos ? std::string::npos : comEnd - com - 3);
      for (const auto& c : kCapabilityWords) {
        const auto at = list.find(c.word);
        if (at == std::string::npos) continue;
        id.capabilities |= c.bit;
        if (list.compare(at + std::strlen(c.word), 3, "(+)") == 0) id.plusMarks |= c.bit;
      }
    }
    if (const auto name = field.find("NAME,"); name != std::string::npos) {
      unsigned short b[8];
      if (std::sscanf(field.c_str() + name + 5, "%2hx%2hx%2hx%2hx%2hx%2hx%2hx%2hx", &b[0], &b[1], &b[2],
                      &b[3], &b[4], &b[5], &b[6], &b[7]) == 8) {
        for (int i = 0; i < 8; ++i) id.name[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
        id.hasName = true;
      }
    }
    out = id;
    return true;
  }
  return false;
}

SoftwareIdentification ProgramSoftwareIdentification(const J1939Name& name) {
  SoftwareIdentification id;
  id.hasVersion = true;
  id.month = 6;
  id.day = 22;
  id.year = 99;
  id.capabilities = kCapabilityJ1939 | kCapabilityKvcan;
  id.plusMarks = kCapabilityJ1939 | kCapabilityKvcan;
  id.hasName = true;
  id.name = name;
  return id;
}
