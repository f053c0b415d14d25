// The programs as a shell runs them: --version and --help answer without a display, and bash
// completes rq735ctl's words.
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "rq735_version.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs `command` with no display to connect to and X11 asked for, so that a program which built
// its QApplication first would fail.
Outcome Shell(const std::string &command) {
  Outcome run;
  FILE *p = popen(("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " + command + " 2>/dev/null").c_str(), "r");
  if (!p) return run;
  char chunk[256];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) run.out.append(chunk, n);
  const int status = pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(CommandLine, VersionAndHelpNeedNoDisplay) {
  Outcome r = Shell(std::string(RQ735_APP_PATH) + " --version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "rq735 " RQ735_VERSION "\n");
  r = Shell(std::string(RQ735_APP_PATH) + " --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: rq735", 0), 0u) << r.out;

  r = Shell(std::string(RQ735_SIM_PATH) + " --version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "rq735-sim " RQ735_VERSION "\n");
  r = Shell(std::string(RQ735_SIM_PATH) + " --bogus");
  EXPECT_EQ(r.status, 2);

  r = Shell(std::string(RQ735_CTL_PATH) + " --version");
  EXPECT_EQ(r.out, "rq735ctl " RQ735_VERSION "\n");
  r = Shell(std::string(RQ735_CTL_PATH) + " --port /dev/null");
  EXPECT_EQ(r.status, 2) << "no command";
}

// The completion file as the build installs it, run by bash the way it runs it on a Tab: the
// words of the line in COMP_WORDS, split at "=" as bash splits them.
TEST(CommandLine, BashCompletesSettingNamesAndTheirValues) {
  const std::string completion = QFileInfo(RQ735_CTL_PATH).absolutePath().toStdString() + "/packaging/rq735ctl";
  QTemporaryDir dir;
  const std::string script = dir.filePath("complete.sh").toStdString();
  std::ofstream(script) << "source \"$1\"\n"
                           "tab() { COMP_WORDS=(\"$2\" \"${@:3}\"); COMP_CWORD=$(($# - 2)); _rq735ctl;\n"
                           "        printf '%s\\n' \"${COMPREPLY[@]}\" '--'; }\n"
                           "tab \"$@\" --port /dev/ttyUSB0 set rs485_pa\n"
                           "tab \"$@\" set rs485_parity =\n"
                           "tab \"$@\" get --js\n";
  const Outcome r = Shell("bash --norc --noprofile " + script + " " + completion + " " + RQ735_CTL_PATH);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "rs485_parity=\n--\nnone\nodd\neven\n--\n--json\n--\n");
}

}  // namespace
