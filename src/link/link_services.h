#pragma once

#include "link/can/qt_can_thread.h"
#include "link/protocol/clock.h"
#include "link/serial/serial_call_lock.h"

// What a link takes from the program that builds it, instead of making process-wide state of its
// own: the program clock (serial capture stamps, CAN time-outs), the lock that serialises the
// serial device calls of all ports, and the thread that hosts the Qt CAN devices. All three must
// outlive every link given them.
struct LinkServices {
  const IClock& clock;
  CSerialCallLock& serialCalls;
  CQtCanThread& canThread;
};
