// The programming worker: a thread that streams the image buffer to the card
// through the card's interface library, one 128-byte block at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace qvr {

// Command blocks handed to WriteInterfaceBlock: an 8-byte little-endian
// header (command, payload length) and the payload.
namespace InterfaceBlock {
inline constexpr std::uint32_t CommandStart = 1;
inline constexpr std::uint32_t CommandData = 2;
inline constexpr std::uint32_t CommandEnd = 3;
inline constexpr std::uint32_t HeaderSize = 8;
inline constexpr std::uint32_t StartEndPayload = 1;
inline constexpr std::uint32_t DataPayload = 131;   // 3 address bytes + 128 data bytes
inline constexpr std::uint32_t BlockBytes = 128;
inline constexpr std::uint32_t BlockCount = 2048;
inline constexpr std::uint32_t ReplySize = 128;
}  // namespace InterfaceBlock

// The two functions of the card's interface library that the worker calls.
// Tests put scripted stand-ins here; the default is the linked library.
struct InterfaceLibrary {
  std::int32_t (*WriteInterfaceBlock)(std::int32_t card, const void* block, std::int32_t count);
  std::int32_t (*ReadInterfaceBlock)(std::int32_t card, void* reply, std::int32_t count);
};
InterfaceLibrary LinkedInterfaceLibrary();

inline constexpr std::chrono::milliseconds DefaultAnswerLimit{10000};

class ProgramCard {
 public:
  // Counts TotalBlocks from TheImage.Data, then starts the thread (after
  // construction has finished: the thread never sees a half-built object).
  explicit ProgramCard(InterfaceLibrary library = LinkedInterfaceLibrary(),
                       std::chrono::milliseconds answerLimit = DefaultAnswerLimit);
  // Waits for the thread to end.
  ~ProgramCard();
  ProgramCard(const ProgramCard&) = delete;
  ProgramCard& operator=(const ProgramCard&) = delete;

  std::atomic<std::int32_t> TotalBlocks{0};
  std::atomic<std::int32_t> BlocksDone{0};
  std::atomic<bool> Running{true};

 private:
  void Execute();
  // Sends one block and polls for the card's answer: positive accepted,
  // negative refused, 0 when no answer came within the limit.
  std::int8_t ExchangeBlock(const std::uint8_t* block, std::uint32_t count);

  InterfaceLibrary library_;
  std::chrono::milliseconds answerLimit_;
  std::thread thread_;
};

// Gives the calling thread the name "Talk to Card".
void NameThread();

}  // namespace qvr
