// TComm against a real pseudo-terminal: the component opens the slave side, the test plays the
// far end on the master side.
#include "serial/tcomm.h"

#include "serial/open_failure.h"

#include "tests/support/pty_peer.h"

#include <QCoreApplication>

#include <dirent.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <iostream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int CountEntries(const char *dir) {
  DIR *d = opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

int OpenFdCount() { return CountEntries("/proc/self/fd"); }
int ThreadCount() { return CountEntries("/proc/self/task"); }

// Processes events until the condition holds or the time runs out.
bool WaitFor(const std::function<bool()> &condition, milliseconds limit = milliseconds(2000)) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    QCoreApplication::processEvents();
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + seed + i / 251) & 0xFF);
  return v;
}

// Collects what the component raises.
struct Events {
  std::vector<std::vector<uint8_t>> deliveries;
  std::vector<Clock::time_point> deliveredAt;
  bool blocksEndInZero = true;
  int sendEmpty = 0;
  int hangups = 0;

  void Bind(TComm &comm) {
    comm.OnReceiveData = [this](TComm *, const uint8_t *buffer, uint16_t length) {
      deliveries.emplace_back(buffer, buffer + length);
      deliveredAt.push_back(Clock::now());
      if (buffer[length] != 0) blocksEndInZero = false;
    };
    comm.OnSendDataEmpty = [this](TComm *) { ++sendEmpty; };
    comm.OnRequestHangup = [this](TComm *) { ++hangups; };
  }
  void Clear() {
    deliveries.clear();
    deliveredAt.clear();
    sendEmpty = 0;
    hangups = 0;
  }
  size_t Received() const {
    size_t n = 0;
    for (const auto &d : deliveries) n += d.size();
    return n;
  }
  std::vector<uint8_t> All() const {
    std::vector<uint8_t> all;
    for (const auto &d : deliveries) all.insert(all.end(), d.begin(), d.end());
    return all;
  }
};

// The settings the configuration window gives its port.
void ConfigureLikeTheWindow(TComm &comm, const std::string &path) {
  comm.SetCommName(QString::fromStdString(path));
  comm.SetDtrControl(TDtrControl::DtrDisable);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.SetRtsControl(TRtsControl::RtsDisable);
}

class TCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureLikeTheWindow(comm, peer.SlavePath());
    events.Bind(comm);
  }

  void Open() { comm.OpenPort(); }
  // Closes and opens again, forgetting what was recorded: anything raised afterwards that the
  // first opening had posted would show as received.
  void Reopen() {
    events.Clear();
    comm.ClosePort();
    comm.OpenPort();
  }

  // Stops the component's output with XOFF from the far end. The marker byte after XOFF is
  // delivered only once the terminal has acted on the XOFF before it.
  void StopOutput() {
    comm.SetOutx_XonXoffFlow(true);
    const size_t before = events.Received();
    peer.Write(std::vector<uint8_t>{0x13, 'm'});
    ASSERT_TRUE(WaitFor([&] { return events.Received() > before; }));
  }
  void ResumeOutput() { peer.Write(std::vector<uint8_t>{0x11}); }

  PtyPeer peer;
  TComm comm;
  Events events;
};

std::string OpenError(TComm &comm, int *error = nullptr, std::string *device = nullptr) {
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    if (error) *error = e.Error();
    if (device) *device = e.Device();
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(TCommDevicePath, MapsPortNamesToDevices) {
  EXPECT_EQ(CommDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(CommDevicePath("COM4"), "/dev/ttyS3");
  EXPECT_EQ(CommDevicePath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(CommDevicePath("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(CommDevicePath("/dev/serial/by-id/usb-x-if00"), "/dev/serial/by-id/usb-x-if00");
  EXPECT_EQ(CommDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  // Not a COM number: a plain name under /dev.
  EXPECT_EQ(CommDevicePath("COM0"), "/dev/COM0");
  EXPECT_EQ(CommDevicePath("COM"), "/dev/COM");
  EXPECT_EQ(CommDevicePath("COM1x"), "/dev/COM1x");
  EXPECT_EQ(CommDevicePath("com3"), "/dev/com3");
  EXPECT_EQ(CommDevicePath("COM99999999999999999999"), "/dev/COM99999999999999999999");
}

TEST(TCommOpen, FailedOpensRaiseTheirMessageAndLeakNothing) {
  char fileName[] = "/tmp/tcomm_not_a_port_XXXXXX";
  const int tmp = mkstemp(fileName);
  ASSERT_GE(tmp, 0);
  close(tmp);

  const int fdsBefore = OpenFdCount();
  TComm comm;

  comm.SetCommName(QString::fromLatin1(fileName));
  EXPECT_EQ(OpenError(comm), "File handle is not a comm handle ");
  comm.SetCommName(QStringLiteral("/dev/null"));  // a character device, but no terminal
  EXPECT_EQ(OpenError(comm), "File handle is not a comm handle ");
  comm.SetCommName(QStringLiteral("/dev/tcomm-no-such-device"));
  EXPECT_EQ(OpenError(comm), "Error opening serial port");
  comm.SetCommName(QStringLiteral("tcomm-no-such-device"));
  int error = 0;
  std::string device;
  EXPECT_EQ(OpenError(comm, &error, &device), "Error opening serial port");
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(device, "/dev/tcomm-no-such-device");

  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(OpenFdCount(), fdsBefore);

  // A closed component: closing does nothing, writing sends nothing, setters touch no port.
  comm.ClosePort();
  const uint8_t byte = 0x55;
  EXPECT_FALSE(comm.WriteData(&byte, 1));
  comm.SetBaudRate(19200);
  comm.SetReadIntervalTimeout(50);
  EXPECT_EQ(comm.LineSettingsApplied(), 0);
  EXPECT_EQ(comm.TimeoutsApplied(), 0);
  unlink(fileName);
}

TEST(OpenFailureAdvice, EachReasonSaysWhatToDo) {
  const std::string port = "/dev/ttyUSB0";
  for (int error : {EACCES, EPERM})
    EXPECT_NE(OpenFailureAdvice(error, port).find("not in it. Add yourself with\n    sudo usermod -aG dialout"),
              std::string::npos);
  EXPECT_EQ(OpenFailureAdvice(EBUSY, port).rfind("/dev/ttyUSB0 is busy: another program holds the port.", 0), 0u);
  for (int error : {ENOENT, ENODEV, ENXIO, ENOTDIR})
    EXPECT_EQ(OpenFailureAdvice(error, port)
                  .rfind("There is no /dev/ttyUSB0: the adapter is not plugged in, or the port name is wrong.", 0),
              0u);
  EXPECT_NE(OpenFailureAdvice(EIO, port).find("may have been unplugged"), std::string::npos);
  EXPECT_EQ(OpenFailureAdvice(ENOTTY, port), "/dev/ttyUSB0 is not a serial port.");
  EXPECT_EQ(OpenFailureAdvice(EMFILE, port), "The system reports for /dev/ttyUSB0: " + std::string(strerror(EMFILE)) + ".");
  EXPECT_EQ(OpenFailureAdvice(0, port), "");
}

TEST_F(TCommTest, SecondOpenRaisesAndTheFirstOpeningKeepsWorking) {
  // A driver without the RS485 mode (as a pseudo-terminal) refuses it; the port works without.
  comm.SetRs485({true, 1, 2});
  Open();
  EXPECT_TRUE(comm.Rs485Refused());
  EXPECT_EQ(OpenError(comm), "This serial port already opened");
  ASSERT_TRUE(comm.IsOpen());

  const uint8_t zero = 0;
  EXPECT_FALSE(comm.WriteData(&zero, 0));

  ASSERT_TRUE(comm.WriteData(reinterpret_cast<const uint8_t *>("ping"), 4));
  EXPECT_EQ(peer.ReadText(milliseconds(2000), milliseconds(50)), "ping");
  peer.Write("pong");
  ASSERT_TRUE(WaitFor([&] { return events.Received() == 4; }));
  EXPECT_EQ(events.All(), (std::vector<uint8_t>{'p', 'o', 'n', 'g'}));

  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_FALSE(comm.WriteData(reinterpret_cast<const uint8_t *>("x"), 1));
  comm.ClosePort();  // closing twice is harmless
}

TEST_F(TCommTest, EveryByteValuePassesUnchangedInBothDirections) {
  Open();
  std::vector<uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);

  ASSERT_TRUE(comm.WriteData(all.data(), static_cast<uint16_t>(all.size())));
  EXPECT_EQ(peer.ReadExactly(all.size()), all);

  peer.Write(all);
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= all.size(); }));
  EXPECT_EQ(events.All(), all);
  EXPECT_TRUE(events.blocksEndInZero);

  // With IgnoreNullChar the zero bytes are dropped from what is delivered.
  comm.SetIgnoreNullChar(true);
  events.deliveries.clear();
  peer.Write(std::vector<uint8_t>{'A', 0, 'B', 0, 0, 'C'});
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= 3; }));
  EXPECT_EQ(events.All(), (std::vector<uint8_t>{'A', 'B', 'C'}));
}

TEST_F(TCommTest, WritesQueueWithoutBlockingWhileTheLineIsStoppedAndArriveWhole) {
  Open();
  StopOutput();

  // Nothing can leave while the line is stopped, so a WriteData that waited for the line would
  // never return.
  const std::vector<std::vector<uint8_t>> blocks = {Pattern(65535, 0), Pattern(65535, 1),
                                                    Pattern(65535, 2), Pattern(100, 9)};
  std::vector<uint8_t> expected;
  const auto before = Clock::now();
  for (const auto &block : blocks) {
    ASSERT_TRUE(comm.WriteData(block.data(), static_cast<uint16_t>(block.size())));
  }
  EXPECT_LT(Clock::now() - before, milliseconds(500));
  for (const auto &block : blocks) expected.insert(expected.end(), block.begin(), block.end());

  EXPECT_TRUE(peer.Read(milliseconds(50), milliseconds(50)).empty()) << "output is stopped";
  ResumeOutput();
  EXPECT_EQ(peer.ReadExactly(expected.size(), milliseconds(5000)), expected);
}

TEST_F(TCommTest, BurstLargerThanTheBufferArrivesInOrderInDeliveriesOfAtMost2048) {
  Open();
  const auto burst = Pattern(3000, 1);
  peer.Write(burst);
  const auto lastWrite = Clock::now();
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= burst.size(); }));

  ASSERT_GE(events.deliveries.size(), 2u);
  for (const auto &d : events.deliveries) EXPECT_LE(d.size(), 2048u);
  EXPECT_EQ(events.deliveries.front().size(), 2048u);
  EXPECT_EQ(events.All(), burst);

  const auto silence =
      std::chrono::duration_cast<milliseconds>(events.deliveredAt.back() - lastWrite).count();
  std::cout << "[ tcomm ] delivery ended after " << silence << " ms of silence (3000-byte burst, last part)"
            << std::endl;
  EXPECT_GE(silence, 99);
}

TEST_F(TCommTest, SilenceOfTheIntervalEndsADeliveryAndShorterGapsDoNot) {
  Open();
  // Bytes 30 ms apart, then (150 ms later) a second group: two deliveries in all.
  std::vector<Clock::time_point> writtenAt;
  std::thread far([&] {
    for (uint8_t b : {'a', 'b', 'c', 'd'}) {
      peer.Write(std::vector<uint8_t>{b});
      writtenAt.push_back(Clock::now());
      std::this_thread::sleep_for(milliseconds(30));
    }
    std::this_thread::sleep_for(milliseconds(120));
    peer.Write("XYZ");
    writtenAt.push_back(Clock::now());
  });
  const bool done = WaitFor([&] { return events.Received() >= 7; });
  far.join();
  ASSERT_TRUE(done);
  ASSERT_TRUE(WaitFor([&] { return events.deliveries.size() >= 2; }));

  ASSERT_EQ(events.deliveries.size(), 2u);
  EXPECT_EQ(events.deliveries[0], (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
  EXPECT_EQ(events.deliveries[1], (std::vector<uint8_t>{'X', 'Y', 'Z'}));

  const Clock::time_point lastByteOf[2] = {writtenAt[3], writtenAt[4]};
  for (int i = 0; i < 2; ++i) {
    const auto silence =
        std::chrono::duration_cast<milliseconds>(events.deliveredAt[i] - lastByteOf[i]).count();
    std::cout << "[ tcomm ] delivery ended after " << silence << " ms of silence" << std::endl;
    EXPECT_GE(silence, 99);
    EXPECT_LT(silence, 400);
  }
}

TEST_F(TCommTest, SettersReapplyOnlyOnChangeAndReachTheDriver) {
  Open();
  EXPECT_EQ(comm.LineSettingsApplied(), 1);
  EXPECT_EQ(comm.TimeoutsApplied(), 1);

  // A second descriptor on the same terminal shows what the driver holds (root is not kept
  // out by the exclusive mode). A pseudo-terminal forces 8 data bits and clears PARENB itself,
  // so parity shows in PARODD and CMSPAR only.
  const int probe = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (probe < 0) {
    EXPECT_EQ(errno, EBUSY) << "the port is held exclusively";
  }
  auto termiosNow = [&] {
    termios t{};
    if (probe >= 0) tcgetattr(probe, &t);
    return t;
  };
  if (probe >= 0) {
    const termios t = termiosNow();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  }

  comm.SetBaudRate(9600);
  comm.SetByteSize(TByteSize::_8);
  comm.SetOutx_XonXoffFlow(false);
  EXPECT_EQ(comm.LineSettingsApplied(), 1);

  comm.SetParity(TParity::Odd);  // stored only
  EXPECT_EQ(comm.LineSettingsApplied(), 1);
  if (probe >= 0) {
    EXPECT_EQ(termiosNow().c_cflag & PARODD, 0u);
  }

  comm.SetBaudRate(19200);  // applies, and takes the stored parity along
  EXPECT_EQ(comm.LineSettingsApplied(), 2);
  if (probe >= 0) {
    const termios t = termiosNow();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
  }

  comm.SetParity(TParity::Mark);
  comm.SetByteSize(TByteSize::_7);
  comm.SetStopBits(TStopBits::_2);
  comm.SetOutx_XonXoffFlow(true);
  comm.SetInx_XonXoffFlow(true);
  comm.SetXonChar('Q');
  EXPECT_EQ(comm.LineSettingsApplied(), 7);
  if (probe >= 0) {
    const termios t = termiosNow();
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_EQ(t.c_cc[VSTOP], 19);
  }

  comm.SetReadIntervalTimeout(100);
  EXPECT_EQ(comm.TimeoutsApplied(), 1);
  comm.SetReadIntervalTimeout(60);
  comm.SetWriteTotalTimeoutConstant(10);
  EXPECT_EQ(comm.TimeoutsApplied(), 3);
  EXPECT_EQ(comm.LineSettingsApplied(), 7);

  // A rate without a Bnnnn constant goes through the other path; the port stays usable.
  comm.SetByteSize(TByteSize::_8);
  comm.SetParity(TParity::None);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.SetBaudRate(15200);
  if (probe >= 0) {
    const termios t = termiosNow();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(CBAUDEX)) << "BOTHER: a speed outside the table";
    close(probe);
  }
  Reopen();
  peer.Write("15200");
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= 5; }));
  EXPECT_EQ(events.All(), (std::vector<uint8_t>{'1', '5', '2', '0', '0'}));
}

TEST_F(TCommTest, SendDataEmptyIsRaisedAtOpeningAndOncePerDrainedQueue) {
  Open();
  // A reply from the far end marks a point in the stream of posted events: once it has been
  // raised, everything the component posted before it has been raised too.
  auto syncWithFarEnd = [&] {
    const size_t before = events.deliveries.size();
    peer.Write("!");
    return WaitFor([&] { return events.deliveries.size() > before; });
  };

  ASSERT_TRUE(syncWithFarEnd());
  EXPECT_EQ(events.sendEmpty, 1) << "the empty queue of a fresh opening is announced";

  // Three blocks queued while output is stopped make one queue that drains once.
  StopOutput();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(comm.WriteData(reinterpret_cast<const uint8_t *>("block"), 5));
  ResumeOutput();
  EXPECT_EQ(peer.ReadExactly(15).size(), 15u);
  ASSERT_TRUE(WaitFor([&] { return events.sendEmpty >= 2; }));
  ASSERT_TRUE(syncWithFarEnd());
  EXPECT_EQ(events.sendEmpty, 2);

  ASSERT_TRUE(comm.WriteData(reinterpret_cast<const uint8_t *>("more"), 4));
  EXPECT_EQ(peer.ReadExactly(4).size(), 4u);
  ASSERT_TRUE(WaitFor([&] { return events.sendEmpty >= 3; }));
  ASSERT_TRUE(syncWithFarEnd());
  EXPECT_EQ(events.sendEmpty, 3);
}

TEST_F(TCommTest, WhatAClosedOpeningPostedIsNotRaisedAfterTheNext) {
  Open();
  peer.Write("stale");
  // The delivery is posted after 100 ms of silence; the window thread does not handle it.
  std::this_thread::sleep_for(milliseconds(300));
  Reopen();
  peer.Write("fresh");
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= 5; }));
  EXPECT_EQ(events.All(), (std::vector<uint8_t>{'f', 'r', 'e', 's', 'h'}));
  EXPECT_EQ(events.sendEmpty, 1) << "one announcement, of the second opening";
}

TEST_F(TCommTest, ClosePortIsPromptWhileWorkersAreBusy) {
  Open();
  // Output is stopped, so the write worker waits for room; a delivery is half gathered.
  StopOutput();
  const auto big = Pattern(65535, 5);
  ASSERT_TRUE(comm.WriteData(big.data(), static_cast<uint16_t>(big.size())));
  peer.Write("partial");

  const auto before = Clock::now();
  comm.ClosePort();
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - before).count();
  EXPECT_LT(took, 200) << "ClosePort took " << took << " ms";
  EXPECT_FALSE(comm.IsOpen());

  peer.Drain();
  comm.SetOutx_XonXoffFlow(false);
  events.Clear();
  Open();  // the same device opens again at once
  peer.Write("again");
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= 5; }));
  EXPECT_EQ(events.All(), (std::vector<uint8_t>{'a', 'g', 'a', 'i', 'n'}));
}

TEST_F(TCommTest, FarEndHangupIsReportedByEachWorkerThatFailsWithoutBusyLoop) {
  Open();
  peer.HangUp();
  ASSERT_TRUE(WaitFor([&] { return events.hangups >= 1; }));
  EXPECT_EQ(events.hangups, 1) << "the read worker";
  // The far end of a pseudo-terminal gone reads as an input/output error, as an unplugged adapter does.
  EXPECT_EQ(comm.HangupError(), EIO);
  EXPECT_EQ(HangupReason(comm.HangupError()), "the adapter was unplugged (EIO)");

  // A write after the hang-up fails in the write worker, which reports it too.
  comm.WriteData(reinterpret_cast<const uint8_t *>("lost"), 4);
  ASSERT_TRUE(WaitFor([&] { return events.hangups >= 2; }));

  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(milliseconds(1000));
  const double cpuMs = (CpuSeconds() - cpuBefore) * 1000.0;
  std::cout << "[ tcomm ] CPU time over 1 s after the hang-up: " << cpuMs << " ms" << std::endl;
  EXPECT_LT(cpuMs, 50.0);

  QCoreApplication::processEvents();
  EXPECT_EQ(events.hangups, 2) << "each worker reports once";
  EXPECT_FALSE(comm.WriteData(reinterpret_cast<const uint8_t *>("x"), 1)) << "the write worker has ended";

  EXPECT_TRUE(comm.IsOpen());
  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());

  // A new device opens on the same component and works.
  PtyPeer second;
  comm.SetCommName(QString::fromStdString(second.SlavePath()));
  events.Clear();
  Open();
  ASSERT_TRUE(comm.WriteData(reinterpret_cast<const uint8_t *>("hi"), 2));
  EXPECT_EQ(second.ReadExactly(2), (std::vector<uint8_t>{'h', 'i'}));
  second.Write("ok");
  ASSERT_TRUE(WaitFor([&] { return events.Received() >= 2; }));
  EXPECT_EQ(events.hangups, 0);
  comm.ClosePort();
}

TEST(TCommLifetime, DestroyingAnOpenComponentClosesItAndEndsItsWorkers) {
  PtyPeer peer;
  const int fdsBefore = OpenFdCount();
  const int threadsBefore = ThreadCount();
  {
    TComm comm;
    ConfigureLikeTheWindow(comm, peer.SlavePath());
    int received = 0;
    comm.OnReceiveData = [&](TComm *, const uint8_t *, uint16_t) { ++received; };
    comm.OpenPort();
    EXPECT_GT(OpenFdCount(), fdsBefore);
    EXPECT_GT(ThreadCount(), threadsBefore);
    ASSERT_TRUE(comm.WriteData(reinterpret_cast<const uint8_t *>("bye"), 3));
    peer.Write("in flight");  // a delivery may be pending or posted when the object goes
    EXPECT_EQ(peer.ReadExactly(3).size(), 3u);
  }
  QCoreApplication::processEvents();  // events posted to the dead object are dropped
  EXPECT_EQ(OpenFdCount(), fdsBefore);
  // A joined thread can stay listed for a moment after it has ended.
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, milliseconds(1000)))
      << ThreadCount() << " threads, " << threadsBefore << " before";
}
