// The identity answer (command 0) as it arrives from the line: any bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "fuzz/form_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TForm1 &form = fuzz::Form();
  const std::vector<const char *> outputs = {"Edit28", "Edit29", "Edit31", "Edit32", "ComboBox27"};
  fuzz::ParseIgnoringStaleBytes(
      data, size, outputs,
      [&] {
        // The stored identity of an earlier answer, and the polling address the query went to
        // (taken from the input so that positions outside the list are tried too).
        form.HartManufacturer = 0x26;
        form.HartPreambleNeed = 5;
        const uint8_t stored[8] = {0x00, 0x12, 0x34, 0, 0, 0, 0x06, 0};
        std::memcpy(form.CommBuffer, stored, sizeof stored);
        form.CommBuffer[7] = size > 0 ? data[size - 1] % 70 : 0;
      },
      [&] { form.ParseIdentityReply(); },
      [&] {
        char s[64];
        std::snprintf(s, sizeof s, "%02X %02X %02X %02X %02X %02X", form.HartManufacturer, form.HartPreambleNeed,
                      form.CommBuffer[0], form.CommBuffer[1], form.CommBuffer[2], form.CommBuffer[6]);
        return std::string(s);
      });
  return 0;
}
