#include "link/serial/comm_error.h"

#include <cerrno>

const char* CommErrorName(int code) {
  switch (code) {
    case kCommSuccess:
      return "success";
    case kCommIoError:
      return "input/output error";
    case kCommBadParameter:
      return "bad parameter";
    case kCommAlreadyOpen:
      return "port already open";
    case kCommNoSuchPort:
      return "no such port";
    case kCommAccessDenied:
      return "access denied";
    case kCommNotOpen:
      return "port not open";
    case kCommLogOpenFailed:
      return "cannot open debug file";
    case kCommNoCharAvailable:
      return "no character available";
    case kCommTimeout:
      return "timed out";
    case kCommNotSupported:
      return "not supported by the device";
    case kCommHangUp:
      return "device hung up";
    case kCommPortBusy:
      return "port in use";
    case kCommNotATty:
      return "not a serial device";
    case kCommTxBufferFull:
      return "transmit buffer full";
    case kCommClosedWhileWaiting:
      return "port closed while waiting";
    default:
      return "unknown error";
  }
}

int CommErrorFromErrno(int err) {
  switch (err) {
    case EAGAIN:
      return kCommNoCharAvailable;
    case EINVAL:
      return kCommBadParameter;
    case ENOENT:
    case ENODEV:
      return kCommNoSuchPort;
    case EACCES:
    case EPERM:
      return kCommAccessDenied;
    case EBUSY:
      return kCommPortBusy;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return kCommNotSupported;
    case EIO:
    case ENXIO:
      return kCommHangUp;
    default:
      return kCommIoError;
  }
}

std::string SerialOpenFailedText(const std::string& text, int code, const std::string& path) {
  if (code != kCommAccessDenied) return text;
  return text + "\nPermission denied on " + path + ": add your user to the dialout group.";
}
