#include "serial/open_failure.h"

#include <cerrno>
#include <cstring>

std::string HangupReason(int error) {
  switch (error) {
    case 0:
      return "the device hung up (the adapter was unplugged, or the far end closed)";
    case EIO:
    case ENXIO:
    case ENODEV:
      return std::string("the adapter was unplugged (") + (error == EIO ? "EIO" : error == ENXIO ? "ENXIO" : "ENODEV") + ")";
    default:
      return std::string("the port failed: ") + std::strerror(error);
  }
}

std::string OpenFailureAdvice(int error, const std::string &device) {
  switch (error) {
    case 0:
      return {};
    case EACCES:
    case EPERM:
      return "You may not use " + device +
             ": serial ports belong to the \"dialout\" group, and you are not in it. Add yourself with\n"
             "    sudo usermod -aG dialout \"$USER\"\n"
             "then log out and in again.";
    case EBUSY:
      return device + " is busy: another program holds the port. Close that program (a terminal program, or "
                      "another window of this one) and open again.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return "There is no " + device + ": the adapter is not plugged in, or the port name is wrong.";
    case EIO:
      return device + " does not answer (input/output error): the adapter may have been unplugged. Plug it in "
                      "again and open again.";
    case ENOTTY:
      return device + " is not a serial port.";
    default:
      return "The system reports for " + device + ": " + std::strerror(error) + ".";
  }
}
