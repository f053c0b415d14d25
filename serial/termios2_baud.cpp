#include "serial/termios2_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serial_detail {

bool SetArbitraryBaudRate(int fd, uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = baud;
  t.c_ispeed = baud;
  return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace serial_detail
