// Real key presses on an X server: XTest presses keys as a keyboard does, so that they pass
// through the X server and xkbcommon into the window exactly as a user's keys do. Runs under
// Xvfb with the xcb platform (tests/CMakeLists.txt); skipped on other platforms.
#include <QGuiApplication>
#include <QLineEdit>
#include <QWindow>

#include "app/main_window.h"
#include "monitor/monitor_window.h"
#include "tests/support/ui_driver.h"

// Last: Xlib's macros (None, Bool, KeyPress, ...) would break the Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace ui;

namespace {

struct XDisplay {
  XDisplay() : display(XOpenDisplay(nullptr)) {}
  ~XDisplay() {
    if (display != nullptr) XCloseDisplay(display);
  }
  void Key(KeySym symbol, KeySym modifier = NoSymbol) {
    const KeyCode code = XKeysymToKeycode(display, symbol);
    const KeyCode held = modifier == NoSymbol ? 0 : XKeysymToKeycode(display, modifier);
    if (held) XTestFakeKeyEvent(display, held, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (held) XTestFakeKeyEvent(display, held, False, CurrentTime);
    XFlush(display);
  }
  void Click(QPoint at) {
    XTestFakeMotionEvent(display, -1, at.x(), at.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
  }
  Display *display;
};

TEST(RealKeyboard, TabLeavesAFilteredBoxDeleteDeletesAndCtrlMOpensTheMonitor) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    if (qEnvironmentVariableIsSet("RQ735_REAL_KEYBOARD_RUN"))
      FAIL() << "platform " << QGuiApplication::platformName().toStdString() << ", not xcb";
    GTEST_SKIP() << "needs an X server and the xcb platform";
  }
  XDisplay x;
  ASSERT_NE(x.display, nullptr);
  int event, error, major, minor;
  ASSERT_TRUE(XTestQueryExtension(x.display, &event, &error, &major, &minor));

  TForm1 form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(WaitUntil([&] { return form.windowHandle()->isExposed() && form.isActiveWindow(); }, 5000));
  auto *box = Find<QLineEdit>(&form, "AD1H");
  const qreal ratio = form.devicePixelRatioF();
  const QPoint centre = box->mapToGlobal(box->rect().center());
  x.Click(QPoint(qRound(centre.x() * ratio), qRound(centre.y() * ratio)));
  ASSERT_TRUE(WaitUntil([&] { return box->hasFocus(); }));

  for (KeySym k : {XK_1, XK_2, XK_3}) x.Key(k);
  ASSERT_TRUE(WaitUntil([&] { return box->text() == "123"; })) << box->text().toStdString();
  x.Key(XK_Home);
  x.Key(XK_Delete);
  EXPECT_TRUE(WaitUntil([&] { return box->text() == "23"; })) << box->text().toStdString();
  x.Key(XK_Tab);
  EXPECT_TRUE(WaitUntil([&] { return !box->hasFocus(); })) << "Tab did not leave the box";
  EXPECT_EQ(box->text(), "23");

  // Ctrl+M opens the monitor.
  x.Key(XK_m, XK_Control_L);
  EXPECT_TRUE(WaitUntil([&] { return form.Monitor() && form.Monitor()->isVisible(); })) << "Ctrl+M opened nothing";
}

}  // namespace
