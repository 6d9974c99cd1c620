#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal pair for serial tests: the code under test opens SlavePath() as its serial
// device; the test plays the far end on the master. The helper keeps a slave descriptor of its
// own (raw, no echo) so the pair stays usable while the code under test closes and reopens the
// port, and so the test can read the terminal settings the code applied.
class CPtyPair {
 public:
  CPtyPair();
  ~CPtyPair();
  CPtyPair(const CPtyPair&) = delete;
  CPtyPair& operator=(const CPtyPair&) = delete;

  bool Ok() const { return master >= 0; }
  int MasterFd() const { return master; }
  int SlaveFd() const { return slave; }
  const std::string& SlavePath() const { return slavePath; }

  // Writes all bytes into the master (they arrive at the slave); false on failure.
  bool Send(const std::vector<std::uint8_t>& bytes);
  bool Send(const std::string& text);
  // Reads from the master until `count` bytes came or `ms` passed; what came.
  std::vector<std::uint8_t> Receive(std::size_t count, int ms);
  // Closes the master: the slave side sees a hang-up.
  void CloseMaster();

 private:
  int master = -1;
  int slave = -1;
  std::string slavePath;
};
