#pragma once

#include <string>

// Result codes of the serial port layer. A port operation returns 0 or a positive value on
// success (or the value asked for) and one of these negative codes on failure. The numbers
// -3, -6, -7 and -8 are fixed by the layer's contract; the rest are ours and stand for the
// errno-based failures of termios and ioctl calls as listed next to each.
constexpr int kCommSuccess = 0;
constexpr int kCommIoError = -1;              // any errno not listed below
constexpr int kCommBadParameter = -2;         // unsupported baud, parity, bits, null buffer (EINVAL on set)
constexpr int kCommAlreadyOpen = -3;          // Open on an open port
constexpr int kCommNoSuchPort = -4;           // slot out of range or unmapped, ENOENT, ENODEV, ENXIO at open
constexpr int kCommAccessDenied = -5;         // EACCES, EPERM at open
constexpr int kCommNotOpen = -6;              // the port is not open
constexpr int kCommLogOpenFailed = -7;        // the debug capture file cannot be opened or locked
constexpr int kCommNoCharAvailable = -8;      // nothing waiting in the receive buffer (not logged)
constexpr int kCommTimeout = -9;              // a timed operation moved no byte before its time ran out
constexpr int kCommNotSupported = -10;        // the device cannot do it (ENOTTY, EINVAL from an ioctl):
                                              // a pseudo-terminal has no modem lines and no line counters
constexpr int kCommHangUp = -11;              // the device hung up: POLLHUP, end of file, EIO or ENXIO on
                                              // read or write (a pulled USB cable, the far pty end closed)
constexpr int kCommPortBusy = -12;            // EBUSY at open: another program holds the port exclusively
constexpr int kCommNotATty = -13;             // the path opened but is no terminal (tcgetattr ENOTTY)
constexpr int kCommTxBufferFull = -14;        // a write without waiting found no room (EAGAIN)
constexpr int kCommClosedWhileWaiting = -15;  // Close from another thread ended a wait

// A short English name for a result code, for log texts ("Error opening port COM3: no such port").
// Never null; unknown codes give "unknown error".
const char* CommErrorName(int code);

// The message for a serial port that did not open: `text` alone, or for a port the user may not
// open, `text` followed by the line "Permission denied on PATH: add your user to the dialout
// group.".
std::string SerialOpenFailedText(const std::string& text, int code, const std::string& path);

// Maps an errno value of a failed read, write or ioctl to one of the codes above.
int CommErrorFromErrno(int err);
