// Line speeds that have no Bnnnn constant, set through termios2 with BOTHER. Kept apart from the
// rest of the serial code because <asm/termbits.h> cannot share a translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace serial_detail {

// The c_cflag of a termios2 that asks for the speeds in c_ispeed and c_ospeed (BOTHER), in both
// directions, made from the present one.
uint32_t ArbitraryBaudFlags(uint32_t cflag);

// Sets both directions of the open tty `fd` to `baud` bits per second. False when the driver
// refuses (a pseudo-terminal may).
bool SetArbitraryBaudRate(int fd, uint32_t baud);

}  // namespace serial_detail
