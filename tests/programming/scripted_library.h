// An in-process stand-in for the card's interface library: records every
// call with the bytes it was given and answers reads from a script.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "programming/program_card.h"

namespace qvr::test {

struct LibraryCall {
  bool write = false;          // WriteInterfaceBlock, else ReadInterfaceBlock
  std::int32_t card = 0;
  std::int32_t count = 0;
  std::vector<std::uint8_t> block;  // what a write handed over
  std::string threadName;
};

// Answers a read: `block` is the last block written, `reads` the number of
// reads since that write (1 for the first).
using ReplyScript = std::function<std::int32_t(const std::vector<std::uint8_t>& block, int reads)>;

class ScriptedLibrary {
 public:
  // Installs this object as the one the library functions talk to.
  explicit ScriptedLibrary(ReplyScript script = nullptr);
  ~ScriptedLibrary();

  InterfaceLibrary Functions() const;
  std::vector<LibraryCall> Calls() const;
  std::vector<LibraryCall> Writes() const;

  // Swaps the script while a worker may be running.
  void SetScript(ReplyScript script);
  // Called with each written block before the write returns, outside the
  // library's lock (it may wait, holding the worker inside the write).
  void SetWriteHook(std::function<void(const std::vector<std::uint8_t>& block)> hook);

  // Command code and payload length from a written block's header.
  static std::uint32_t Command(const std::vector<std::uint8_t>& block);
  static std::uint32_t PayloadLength(const std::vector<std::uint8_t>& block);
  // Image address of a data command (its three big-endian bytes).
  static std::uint32_t Address(const std::vector<std::uint8_t>& block);

 private:
  static std::int32_t Write(std::int32_t card, const void* block, std::int32_t count);
  static std::int32_t Read(std::int32_t card, void* reply, std::int32_t count);

  mutable std::mutex mutex_;
  ReplyScript script_;
  std::function<void(const std::vector<std::uint8_t>&)> writeHook_;
  std::vector<LibraryCall> calls_;
  std::vector<std::uint8_t> lastBlock_;
  int reads_ = 0;
};

}  // namespace qvr::test
