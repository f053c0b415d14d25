// Drives TForm1 as a user would: controls are found by object name, typed into, picked and
// clicked; modal message boxes are caught and closed.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"

class PtyPeer;

namespace ui {

// Finds a child of the window by object name; fails the test when it is missing or of another kind.
template <typename T>
T *Find(QWidget *window, const char *name) {
  T *w = window->findChild<T *>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << "no control " << name << " of the expected kind";
  return w;
}

// Processes events until the condition holds or the time runs out; returns the condition.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 3000);
// Processes events for the given time.
void Pump(int ms);

void Click(QWidget *window, const char *button);
void SetText(QWidget *window, const char *edit, const QString &text);  // as if typed over
QString Text(QWidget *window, const char *name);  // line edit, plain text edit, combo or label
// Picks item `index` of a combo box as a user does (selection changes, then activated).
void Pick(QWidget *window, const char *combo, int index);
// Replaces an editable combo box's text as if typed.
void TypeInto(QComboBox *combo, const QString &text);

// A message box the program showed: its text, title, icon and informative text.
struct Message {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString informative;
};

// Collects every modal message box shown while it lives and closes it at once.
class MessageCatcher {
 public:
  MessageCatcher();
  ~MessageCatcher();
  const std::vector<Message> &Messages() const { return messages_; }
  bool WaitForCount(size_t n, int timeoutMs = 4000);
  void Clear() { messages_.clear(); }

 private:
  void Poll();
  QTimer timer_;
  std::vector<Message> messages_;
};

// A window with its port opened on a fresh pseudo-terminal.
struct OpenWindow {
  OpenWindow();
  ~OpenWindow();
  std::unique_ptr<TForm1> form;
  std::unique_ptr<PtyPeer> peer;
};

// Waits until Memo10 shows something and returns it.
QString WaitForReceiveBox(TForm1 &form, int timeoutMs = 3000);

// The window's timer of this name (Timer2 to Timer5), found as any user of the window finds it.
QTimer *Timer(TForm1 &form, const char *name);

// Puts request codes in place as a handler does, arming nothing; values no request uses are
// allowed, so that a case can see a code left alone.
void SetCodes(TForm1 &form, int32_t pending, int32_t kind);
void SetPending(TForm1 &form, int32_t pending);   // the report in force stays
void SetTimeoutKind(TForm1 &form, int32_t kind);  // the pending code stays

}  // namespace ui
