#include "serial/termios2_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serial_detail {

uint32_t ArbitraryBaudFlags(uint32_t cflag) {
  cflag &= ~static_cast<uint32_t>(CBAUD | (CBAUD << IBSHIFT));
  return cflag | BOTHER | (BOTHER << IBSHIFT);
}

bool SetArbitraryBaudRate(int fd, uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag = ArbitraryBaudFlags(t.c_cflag);
  t.c_ospeed = baud;
  t.c_ispeed = baud;
  return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace serial_detail
