// The answer to the MODBUS parameter query as it arrives from the line: any bytes.
#include <QComboBox>
#include <QLineEdit>

#include <cstdint>

#include "app/list_positions.h"
#include "app/main_window.h"
#include "fuzz/form_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TForm1 &form = fuzz::Form();
  // Every input starts with the custom meter selected, so that the custom groups are read unless
  // the reply itself picks another meter type.
  SetItemIndex(static_cast<QComboBox *>(fuzz::Control("ComboBox17")), 0);
  fuzz::Deliver(data, size, 0x00);
  fuzz::Run([&] { form.ParseModbusParameterReply(); }, fuzz::Expect::Parser);
  // The custom command bytes come from one group of at most 99 pairs.
  for (const char *name : {"Edit4", "Edit5"}) {
    const QString text = static_cast<QLineEdit *>(fuzz::Control(name))->text();
    if (text.size() > 3 * 99 - 1) fuzz::Fail(std::string(name) + " holds " + std::to_string(text.size()) + " characters");
  }
  return 0;
}
