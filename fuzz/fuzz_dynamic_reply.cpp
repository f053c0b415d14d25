// The dynamic-variable answer (command 3) as it arrives from the line: any bytes.
#include <QLineEdit>

#include <cstdint>

#include "app/main_window.h"
#include "fuzz/form_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TForm1 &form = fuzz::Form();
  const std::vector<const char *> outputs = {"Edit25",  "Edit26",  "Edit27",    "Edit30",    "HLabel2",  "HLabel3",
                                             "HLabel4", "HLabel5", "ComboBox3", "ComboBox31", "ComboBox32", "ComboBox33"};
  fuzz::ParseIgnoringStaleBytes(
      data, size, outputs, [] {}, [&] { form.ParseDynamicVariableReply(); }, [] { return std::string(); });
  // A value box shows at most nine characters.
  for (const char *name : {"Edit25", "Edit26", "Edit27", "Edit30"}) {
    const QString text = static_cast<QLineEdit *>(fuzz::Control(name))->text();
    if (text.size() > 9) fuzz::Fail(std::string(name) + " shows " + text.toStdString());
  }
  return 0;
}
