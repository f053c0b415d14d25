// Where a reply ends, on any bytes: a reply found whole stays whole at the same length when more
// bytes follow, is not whole one byte earlier, and checks out by its own CRC or checksum; the HART
// reply's span agrees with the reply check.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/crc16.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hart_answer.h"

namespace {

void Prefixes(const char *name, size_t (*end)(const uint8_t *, size_t), const uint8_t *data, size_t size) {
  const size_t whole = end(data, size);
  if (whole > size) fuzz::Fail(std::string(name) + ": ends past the bytes");
  if (whole == 0) return;
  if (end(data, whole) != whole) fuzz::Fail(std::string(name) + ": not whole at its own length");
  if (end(data, whole - 1) != 0) fuzz::Fail(std::string(name) + ": whole a byte earlier");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Prefixes("MODBUS", ModbusAnswerEnd, data, size);
  Prefixes("HART", HartReplyEnd, data, size);
  Prefixes("acknowledgement", AcknowledgementEnd, data, size);

  if (const size_t n = ModbusAnswerEnd(data, size)) {
    const Crc16Bytes crc = Crc16(data, n - 2);
    if (crc.low != data[n - 2] || crc.high != data[n - 1]) fuzz::Fail("MODBUS: whole with a wrong CRC");
  }
  const auto span = FindHartReplyFrame(data, size);
  if (span && (span->start > span->delimiter || span->delimiter >= size || span->end > size ||
               (span->end != 0 && span->countAt >= span->end)))
    fuzz::Fail("HART: span outside the bytes");
  if (const size_t n = HartReplyEnd(data, size)) {
    // The request the reply claims to answer: its own address and command.
    const size_t address = span->delimiter + 1;
    std::vector<uint8_t> request(2, hart::kPreamble);
    request.push_back(static_cast<uint8_t>((data[span->delimiter] & hart::kLongAddressFrame) | hart::kRequestFrame));
    request.insert(request.end(), data + address, data + span->countAt);
    request.push_back(0);
    request.push_back(HartChecksum(request.data() + 2, request.size() - 2));
    const HartAnswer answer = CheckHartAnswer(request, data, size);
    const bool statusMissing = data[span->countAt] < 2;
    if (answer.verdict == HartVerdict::NotAnAnswer && !statusMissing)
      fuzz::Fail("HART: whole, but the check refuses it: " + answer.problem);
    if (answer.verdict != HartVerdict::NotAnAnswer && answer.start + answer.length != n)
      fuzz::Fail("HART: the check's frame ends elsewhere");
  }
  return 0;
}
