// The MODBUS RTU test frame against libmodbus: what a libmodbus master puts on the wire for the
// same read must be what the tool sends.
#include <QLineEdit>

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <memory>
#include <vector>

#include "protocol/crc16.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

namespace {

// The bytes libmodbus writes for modbus_read_registers(slave, start, count). Nobody answers, so
// the read itself fails after a short wait.
std::vector<uint8_t> LibmodbusRequest(int slave, int start, int count) {
  PtyPeer line;
  std::unique_ptr<modbus_t, decltype(&modbus_free)> ctx(modbus_new_rtu(line.SlavePath().c_str(), 9600, 'N', 8, 1),
                                                        &modbus_free);
  EXPECT_NE(ctx, nullptr);
  if (!ctx) return {};
  modbus_set_slave(ctx.get(), slave);
  modbus_set_response_timeout(ctx.get(), 0, 5000);
  EXPECT_EQ(modbus_connect(ctx.get()), 0) << modbus_strerror(errno);
  uint16_t registers[MODBUS_MAX_READ_REGISTERS];
  EXPECT_EQ(modbus_read_registers(ctx.get(), start, count, registers), -1);
  modbus_close(ctx.get());
  return line.ReadExactly(8);
}

std::vector<uint8_t> OurRequest(int slave, int start, int count) {
  std::vector<uint8_t> frame = {static_cast<uint8_t>(slave), 0x03, 0x00, static_cast<uint8_t>(start), 0x00,
                                static_cast<uint8_t>(count)};
  const Crc16Bytes crc = Crc16(frame.data(), frame.size());
  frame.push_back(crc.low);
  frame.push_back(crc.high);
  return frame;
}

TEST(ModbusRtuAgainstLibmodbus, FramesAndCrcAgree) {
  const int cases[][3] = {{1, 0, 10},  {1, 0, 1},   {0x11, 0, 10}, {247, 255, 125}, {2, 10, 10},
                          {9, 80, 10}, {128, 1, 2}, {33, 200, 64}, {100, 99, 3},    {5, 0x5A, 0x7D}};
  for (const auto &c : cases)
    EXPECT_EQ(OurRequest(c[0], c[1], c[2]), LibmodbusRequest(c[0], c[1], c[2])) << c[0] << " " << c[1] << " " << c[2];
}

TEST(ModbusRtuAgainstLibmodbus, CommTestButtonSendsWhatLibmodbusSends) {
  ui::OpenWindow w;
  ui::MessageCatcher catcher;
  struct Case {
    const char *slave, *start, *count;
    int expectedSlave, expectedStart, expectedCount;
  } cases[] = {
      {"001", "00", "10", 1, 0, 10},  // the defaults: 01 03 00 00 00 0A C5 CD
      {"$11", "10", "10", 0x11, 10, 10},
      {"247", "0x50", "1", 247, 80, 1},
      {"257", "90", "125", 1, 90, 125},  // only the low byte of the slave address
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.slave);
    ui::SetText(w.form.get(), "Edit18", c.slave);
    ui::SetText(w.form.get(), "Edit19", c.start);
    ui::SetText(w.form.get(), "Edit20", c.count);
    w.peer->Drain();
    ui::Click(w.form.get(), "Button4");
    const std::vector<uint8_t> sent = w.peer->ReadExactly(8);
    EXPECT_EQ(sent, LibmodbusRequest(c.expectedSlave, c.expectedStart, c.expectedCount));
  }
  const std::vector<uint8_t> defaults = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_EQ(LibmodbusRequest(1, 0, 10), defaults);
}

}  // namespace
