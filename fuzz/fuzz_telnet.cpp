// The telnet codec of ports behind a device server: any bytes from the connection, split into two
// reads anywhere, decode as they do in one read; any data escaped decodes back to itself; and the
// RFC 2217 client takes whatever commands come without answering one twice.
//
// Input: a byte giving where the connection's bytes are split, then the bytes.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/telnet.h"

namespace {

struct Decoded {
  std::vector<uint8_t> data;
  std::vector<telnet::Command> commands;
};

bool Same(const Decoded &a, const Decoded &b) {
  if (a.data != b.data || a.commands.size() != b.commands.size()) return false;
  for (size_t i = 0; i < a.commands.size(); ++i) {
    const telnet::Command &x = a.commands[i], &y = b.commands[i];
    if (x.verb != y.verb || x.option != y.option || x.payload != y.payload) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t *bytes = data + 1;
  const size_t count = size - 1;
  const size_t split = count == 0 ? 0 : data[0] % (count + 1);

  Decoded whole, pieces;
  telnet::Decoder one, two;
  one.Feed(bytes, count, &whole.data, &whole.commands);
  two.Feed(bytes, split, &pieces.data, &pieces.commands);
  two.Feed(bytes + split, count - split, &pieces.data, &pieces.commands);
  if (!Same(whole, pieces)) fuzz::Fail("a split read decodes otherwise");

  // The bytes as data: escaped, they come back unchanged and make no command.
  const std::vector<uint8_t> escaped = telnet::Escape(bytes, count);
  Decoded back;
  telnet::Decoder three;
  three.Feed(escaped.data(), escaped.size(), &back.data, &back.commands);
  if (back.data != std::vector<uint8_t>(bytes, bytes + count) || !back.commands.empty())
    fuzz::Fail("escaped data does not decode to itself");

  telnet::Rfc2217Client client;
  client.Start();
  const std::vector<uint8_t> answers = client.Take(whole.commands);
  // Each refusal the client writes answers one offer of the far end: never more answers than offers.
  if (answers.size() > 3 * whole.commands.size()) fuzz::Fail("more answers than commands");
  for (const telnet::Command &c : whole.commands) {
    const auto answer = telnet::rfc2217::ReadAnswer(c);
    if (answer && answer->request == telnet::rfc2217::kSetBaudRate && c.payload.size() != 5)
      fuzz::Fail("a baud rate read from a value that is not four bytes");
  }
  return 0;
}
