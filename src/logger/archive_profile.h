#pragma once

#include "link/protocol/settings_store.h"

// The settings file as the archive settings see it: the program's CSettingsProfile, or a map in
// tests. Implementations must allow calls from the archiving workers.
using IArchiveProfile = ISettingsStore;
