#include "tests/support/ui_driver.h"

#include <QCheckBox>
#include <QLabel>
#include <QThread>

#include "tests/support/pty_peer.h"

namespace ui {

bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > timeoutMs) return condition();
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
}

void Click(QWidget *window, const char *button) {
  auto *b = Find<QPushButton>(window, button);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->isEnabled()) << button << " is disabled";
  b->click();
}

void SetText(QWidget *window, const char *edit, const QString &text) {
  auto *e = Find<QLineEdit>(window, edit);
  ASSERT_NE(e, nullptr);
  e->selectAll();
  e->del();
  e->insert(text);
}

QString Text(QWidget *window, const char *name) {
  QObject *o = window->findChild<QObject *>(QString::fromLatin1(name));
  if (auto *e = qobject_cast<QLineEdit *>(o)) return e->text();
  if (auto *m = qobject_cast<QPlainTextEdit *>(o)) return m->toPlainText();
  if (auto *c = qobject_cast<QComboBox *>(o)) return c->currentText();
  if (auto *l = qobject_cast<QLabel *>(o)) return l->text();
  if (auto *b = qobject_cast<QAbstractButton *>(o)) return b->text();
  ADD_FAILURE() << "no text control " << name;
  return {};
}

void Pick(QWidget *window, const char *combo, int index) {
  auto *c = Find<QComboBox>(window, combo);
  ASSERT_NE(c, nullptr);
  ASSERT_LT(index, c->count());
  c->setCurrentIndex(index);
  emit c->activated(index);
  emit c->textActivated(c->itemText(index));
}

void TypeInto(QComboBox *combo, const QString &text) {
  ASSERT_TRUE(combo->isEditable());
  QLineEdit *e = combo->lineEdit();
  e->selectAll();
  e->del();
  e->insert(text);
}

MessageCatcher::MessageCatcher() {
  timer_.setInterval(5);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

MessageCatcher::~MessageCatcher() { timer_.stop(); }

void MessageCatcher::Poll() {
  QWidget *w = QApplication::activeModalWidget();
  if (auto *box = qobject_cast<QMessageBox *>(w)) {
    messages_.push_back({box->text(), box->windowTitle(), box->icon(), box->informativeText()});
    box->done(QMessageBox::Ok);
  }
}

bool MessageCatcher::WaitForCount(size_t n, int timeoutMs) {
  return WaitUntil([&] { return messages_.size() >= n; }, timeoutMs);
}

OpenWindow::OpenWindow() : form(std::make_unique<TForm1>()), peer(std::make_unique<PtyPeer>()) {
  form->show();
  auto *port = form->findChild<QComboBox *>(QStringLiteral("SPREALCOM"));
  TypeInto(port, QString::fromStdString(peer->SlavePath()));
  form->findChild<QPushButton *>(QStringLiteral("Button1"))->click();
  EXPECT_TRUE(form->Cycle().PortOpen()) << "the port did not open";
}

OpenWindow::~OpenWindow() {
  form.reset();
  peer.reset();
}

QTimer *Timer(TForm1 &form, const char *name) {
  auto *timer = form.findChild<QTimer *>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
  EXPECT_NE(timer, nullptr) << "no timer " << name;
  return timer;
}

void SetCodes(TForm1 &form, int32_t pending, int32_t kind) {
  form.Cycle().Expect(static_cast<Pending::Code>(pending), static_cast<Timeout::Kind>(kind));
}

void SetPending(TForm1 &form, int32_t pending) { form.Cycle().Expect(static_cast<Pending::Code>(pending)); }

void SetTimeoutKind(TForm1 &form, int32_t kind) { SetCodes(form, form.Cycle().PendingReply(), kind); }

QString WaitForReceiveBox(TForm1 &form, int timeoutMs) {
  auto *memo = form.findChild<QPlainTextEdit *>(QStringLiteral("Memo10"));
  WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, timeoutMs);
  return memo->toPlainText();
}

}  // namespace ui
