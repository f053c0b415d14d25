// The HART reply check and the typed request check, on any bytes. Input: a byte giving the length
// of the typed body, the body, then the reply. A body that is taken makes a request the check can
// read; a reply that checks out lies within the bytes and ends where the frame end says.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hart_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t bodyLength = std::min<size_t>(data[0], size - 1);
  const std::vector<uint8_t> body(data + 1, data + 1 + bodyLength);
  const uint8_t *reply = data + 1 + bodyLength;
  const size_t count = size - 1 - bodyLength;

  const std::string problem = TypedRequestProblem(body);
  const std::vector<uint8_t> request = HartRawFrame(5, body);
  const HartAnswer answer = CheckHartAnswer(request, reply, count);
  if (problem.empty() && answer.problem == "the request is no HART request")
    fuzz::Fail("a typed body that was taken is no request to the check");
  if (answer.verdict == HartVerdict::NotAnAnswer) {
    if (answer.problem.empty()) fuzz::Fail("refused without a reason");
    return 0;
  }
  if (answer.start + answer.length > count) fuzz::Fail("the frame lies past the bytes");
  if (HartReplyEnd(reply, count) != answer.start + answer.length) fuzz::Fail("the frame end disagrees");
  if (answer.Reason().empty()) fuzz::Fail("no reason");
  return 0;
}
