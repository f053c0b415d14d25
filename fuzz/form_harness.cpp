#include "fuzz/form_harness.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "app/conversions.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "protocol/int_text.h"

namespace fuzz {
namespace {

int boxesClosed = 0;
std::string lastBox;

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
      if (QWidget *w = QApplication::activeModalWidget()) {
        if (auto *box = qobject_cast<QMessageBox *>(w)) lastBox = box->text().toStdString();
        ++boxesClosed;
        w->close();
      }
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

void Deliver(const uint8_t *data, size_t size, uint8_t stale) {
  TForm1 &form = Form();
  const size_t text = std::min<size_t>(size, TForm1::kReplyTextMax);
  const size_t copied = std::min<size_t>(size, TForm1::kReplyRoom);
  form.ReplyText = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(text));
  uint8_t *area = form.CommBuffer + TForm1::kReplyStart;
  if (copied > 0) std::memcpy(area, data, copied);
  std::memset(area + copied, stale, TForm1::kReplyRoom - copied);
}

void Run(const std::function<void()> &step, Expect expect) {
  Harness &h = Instance();
  const int before = boxesClosed;
  h.closer.start();
  try {
    step();
  } catch (const EConvertError &e) {
    // The message names the text: "'<text>' is not a valid integer value", cut short at a NUL
    // character of the text, and the text may itself hold anything.
    const std::string m = e.what();
    if (m.empty() || m[0] != '\'') Fail("conversion message out of form: " + m);
  } catch (const ERefused &e) {
    if (expect != Expect::Handler) Fail(std::string("refusal from a parser: ") + e.what());
  } catch (const std::exception &e) {
    Fail(std::string("unexpected exception: ") + e.what());
  }
  h.closer.stop();
  if (expect == Expect::Parser && boxesClosed != before) Fail("a message box was shown: " + lastBox);
}

QWidget *Control(const char *name) {
  static std::map<std::string, QWidget *> found;  // a search of the whole window costs more than a parse
  QWidget *&w = found[name];
  if (!w) w = Form().findChild<QWidget *>(QLatin1String(name));
  if (!w) Fail(std::string("no control named ") + name);
  return w;
}

std::string Snapshot(const std::vector<const char *> &names) {
  std::string out;
  for (const char *name : names) {
    QWidget *w = Control(name);
    QString text;
    if (auto *e = qobject_cast<QLineEdit *>(w)) text = e->text();
    else if (auto *l = qobject_cast<QLabel *>(w)) text = l->text();
    else if (auto *c = qobject_cast<QComboBox *>(w)) text = QString::number(c->currentIndex()) + ":" + c->currentText();
    out += name;
    out += '=';
    out += text.toStdString();
    out += '\n';
  }
  return out;
}

void Reset(const std::vector<const char *> &names) {
  for (const char *name : names) {
    QWidget *w = Control(name);
    if (auto *e = qobject_cast<QLineEdit *>(w)) e->setText(QStringLiteral("old"));
    else if (auto *l = qobject_cast<QLabel *>(w)) l->setText(QStringLiteral("old"));
    else if (auto *c = qobject_cast<QComboBox *>(w)) SetItemIndex(c, 0);
  }
}

void ParseIgnoringStaleBytes(const uint8_t *data, size_t size, const std::vector<const char *> &outputs,
                             const std::function<void()> &prepare, const std::function<void()> &parse,
                             const std::function<std::string()> &extra) {
  std::string first;
  for (uint8_t stale : {0x00, 0xFF, 0x7F}) {
    Reset(outputs);
    prepare();
    Deliver(data, size, stale);
    Run(parse, Expect::Parser);
    const std::string outcome = Snapshot(outputs) + extra();
    if (stale == 0x00) first = outcome;
    else if (outcome != first)
      Fail("the outcome depends on bytes past the delivery\n--- stale 00:\n" + first + "--- stale " +
           std::to_string(stale) + ":\n" + outcome);
  }
}

int BoxesClosed() { return boxesClosed; }

void Fail(const std::string &what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

}  // namespace fuzz
