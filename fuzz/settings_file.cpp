// The settings file reader on any file text: the connection settings, the serial port map and
// the archive settings are read from it; then one key is written and must read back as written,
// and the connection settings are saved and read again.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/port_settings.h"
#include "app/settings_profile.h"
#include "app/settings_snapshot.h"
#include "fuzz_check.h"
#include "logger/archive_profile.h"
#include "logger/archive_settings.h"

#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path file = ScratchFolder("ini") / "Plowview.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CSettingsProfile profile(file);
  CPortSettings settings(profile, ScratchFolder("ini"));
  settings.LoadSettings();
  SnapshotConnectionSettings(settings);
  LoadSerialPortMap(profile);
  CArchiveSettings archive;
  archive.Load(profile);

  const std::string value = "v=1; \"%s\" #" + std::to_string(size);
  if (profile.WriteString("Connect", "FuzzKey", value)) {
    Check(profile.GetString("connect", "fuzzkey", "absent") == value);
  }
  // Saving writes the file once per key: only now and then, so that the reading gets the time.
  if (size % 8 == 0 && settings.SaveSettings()) {
    CPortSettings again(profile, ScratchFolder("ini"));
    again.LoadSettings();
    Check(again.port == settings.port && again.highSpeedKavo == settings.highSpeedKavo);
  }
  return 0;
}
