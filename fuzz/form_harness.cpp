#include "fuzz/form_harness.h"

#include <QApplication>
#include <QTimer>

#include <map>
#include <memory>
#include <stdexcept>

#include "app/conversions.h"
#include "app/main_window.h"
#include "protocol/int_text.h"

namespace fuzz {
namespace {

struct Harness {
  Harness() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
    form = std::make_unique<TForm1>();
    // A box opened by a handler runs its own event loop; this closes it from there.
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [] {
      if (QWidget *w = QApplication::activeModalWidget()) w->close();
    });
  }
  std::unique_ptr<QApplication> app;
  std::unique_ptr<TForm1> form;
  QTimer closer;
};

Harness &Instance() {
  static Harness *h = new Harness;  // kept to the end: the fuzzer exits without unwinding
  return *h;
}

}  // namespace

TForm1 &Form() { return *Instance().form; }

void Run(const std::function<void()> &step) {
  Harness &h = Instance();
  h.closer.start();
  try {
    step();
  } catch (const EConvertError &e) {
    // The message names the text: "'<text>' is not a valid integer value", cut short at a NUL
    // character of the text, and the text may itself hold anything.
    const std::string m = e.what();
    if (m.empty() || m[0] != '\'') Fail("conversion message out of form: " + m);
  } catch (const ERefused &) {
    // a refusal: nothing was sent
  } catch (const std::exception &e) {
    Fail(std::string("unexpected exception: ") + e.what());
  }
  h.closer.stop();
}

QWidget *Control(const char *name) {
  static std::map<std::string, QWidget *> found;  // a search of the whole window costs more than a parse
  QWidget *&w = found[name];
  if (!w) w = Form().findChild<QWidget *>(QLatin1String(name));
  if (!w) Fail(std::string("no control named ") + name);
  return w;
}

}  // namespace fuzz
