#include "serial/line_settings.h"

termios LineTermios(const LineProperties &p, termios t) {
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY | IGNBRK | BRKINT);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;

  switch (p.byteSize) {
    case TByteSize::_5: t.c_cflag |= CS5; break;
    case TByteSize::_6: t.c_cflag |= CS6; break;
    case TByteSize::_7: t.c_cflag |= CS7; break;
    case TByteSize::_8: t.c_cflag |= CS8; break;
  }
  switch (p.parity) {
    case TParity::None: break;
    case TParity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case TParity::Even: t.c_cflag |= PARENB; break;
    case TParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (p.stopBits != TStopBits::_1) t.c_cflag |= CSTOPB;  // 1.5 stop bits is CSTOPB with 5 data bits
  if (p.parityCheck) t.c_iflag |= INPCK;
  if (p.outxCtsFlow || p.rtsControl == TRtsControl::RtsHandshake) t.c_cflag |= CRTSCTS;
  if (p.outxXonXoffFlow) t.c_iflag |= IXON;
  if (p.inxXonXoffFlow) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(p.xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(p.xoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  // A rate of 0 would hang up the line; it leaves the present speed alone, as an odd rate does.
  const speed_t speed = SpeedConstant(p.baudRate);
  if (speed != B0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }
  return t;
}

speed_t SpeedConstant(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
  }
}
