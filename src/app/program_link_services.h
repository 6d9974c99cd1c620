#pragma once

#include "link/link_services.h"

// The program's one set of link services: its steady clock, the call lock all serial ports share
// and the CAN thread (stopped when the QCoreApplication goes). Every link the program builds gets
// these.
LinkServices& ProgramLinkServices();
