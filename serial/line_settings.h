// TComm's line settings as a pure function: from the component's properties to the terminal's
// settings, testable without a port (a pseudo-terminal ignores CRTSCTS and CMSPAR, so only this
// shows a wrong flag).
#pragma once

#include <termios.h>

#include <cstdint>

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

// The kernel's RS485 mode for adapters whose driver must switch the line's direction: RTS raised
// while sending, with delays before and after (ms). Most USB-to-RS485 adapters switch by themselves
// and need it off.
struct Rs485Direction {
  bool rtsOnSend = false;
  uint32_t delayBeforeMs = 0;
  uint32_t delayAfterMs = 0;
  bool operator==(const Rs485Direction &o) const {
    return rtsOnSend == o.rtsOnSend && delayBeforeMs == o.delayBeforeMs && delayAfterMs == o.delayAfterMs;
  }
};

// The properties of TComm that reach the terminal's settings.
struct LineProperties {
  uint32_t baudRate = 9600;
  bool parityCheck = false;
  bool outxCtsFlow = false;
  TRtsControl rtsControl = TRtsControl::RtsEnable;
  bool outxXonXoffFlow = true;
  bool inxXonXoffFlow = true;
  TByteSize byteSize = TByteSize::_8;
  TParity parity = TParity::None;
  TStopBits stopBits = TStopBits::_1;
  char xonChar = 17;
  char xoffChar = 19;
};

// The settings for `properties`, made from the port's `current` ones: raw bytes, the receiver
// on, modem lines not watched, reads returning what has come. A rate with a Bnnnn constant sets
// both speeds; any other rate leaves them (it needs termios2, ArbitraryBaudFlags).
termios LineTermios(const LineProperties &properties, termios current);

// The Bnnnn constant of a rate, or B0 when it has none.
speed_t SpeedConstant(uint32_t baud);
