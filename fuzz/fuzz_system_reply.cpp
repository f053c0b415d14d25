// The answers to the system-parameter query and to the communication check, as they arrive from
// the line: any bytes.
#include <QLineEdit>

#include <cstdint>

#include "app/main_window.h"
#include "fuzz/form_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TForm1 &form = fuzz::Form();
  fuzz::Deliver(data, size, 0x00);
  fuzz::Run([&] { form.ParseSystemParameterReply(); }, fuzz::Expect::Parser);
  // Edit18 mirrors the module address whichever way it was set.
  auto text = [&](const char *name) { return static_cast<QLineEdit *>(fuzz::Control(name))->text(); };
  if (text("Edit14") != text("Edit18")) fuzz::Fail("Edit18 does not mirror Edit14");

  fuzz::Run([&] { form.ParseCommunicationReply(); }, fuzz::Expect::Parser);
  return 0;
}
