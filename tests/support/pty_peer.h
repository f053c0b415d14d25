// The far end of a serial line for tests: a pseudo-terminal whose slave path the program opens
// as its port, while the test reads and writes the master side.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPeer {
 public:
  PtyPeer();  // opens the master, sets the slave raw and keeps a slave descriptor open
  ~PtyPeer();
  PtyPeer(const PtyPeer &) = delete;
  PtyPeer &operator=(const PtyPeer &) = delete;

  const std::string &SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  void Write(const std::vector<uint8_t> &bytes);
  void Write(const std::string &text);
  // Reads what has arrived until `quiet` passes without a byte or `limit` runs out.
  std::vector<uint8_t> Read(std::chrono::milliseconds limit = std::chrono::milliseconds(2000),
                            std::chrono::milliseconds quiet = std::chrono::milliseconds(150));
  std::string ReadText(std::chrono::milliseconds limit = std::chrono::milliseconds(2000),
                       std::chrono::milliseconds quiet = std::chrono::milliseconds(150));
  // Reads exactly n bytes or fewer if `limit` runs out.
  std::vector<uint8_t> ReadExactly(size_t n, std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
  void Drain();  // discards whatever is waiting
  // Closes the master (and the kept slave descriptor): the program sees a hang-up.
  void HangUp();

 private:
  int master_ = -1;
  int keptSlave_ = -1;
  std::string slavePath_;
};
