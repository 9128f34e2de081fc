#include "simcard/interface_library/qvrzorva.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include "simcard/card_memory.h"
#include "simcard/mailbox.h"
#include "simcard/memory_layout.h"

namespace {

using namespace qvr::simcard;

// How long a write waits for the card's answer before it leaves the rest to
// the caller's polling.
constexpr std::chrono::microseconds AnswerWait{20000};
constexpr std::uint32_t CommandStart = 1;
constexpr std::uint32_t BlockHeaderSize = 8;

enum class Pending { Nothing, Waiting, Answered, Failed };

struct Library {
  std::mutex mutex;
  CardMemory memory;
  std::optional<MailboxView> box;
  Pending pending = Pending::Nothing;
  std::uint32_t id = 0;
  std::int32_t answer = 0;
  std::vector<std::uint8_t> reply;  // the card's reply bytes of the last answer
};

Library& TheLibrary() {
  static Library library;
  return library;
}

bool CardSelected(std::int32_t card) { return card == -1 || card == 0; }

void Disconnect(Library& library) {
  library.box.reset();
  CloseCardMemory(library.memory);
}

bool Connect(Library& library) {
  Disconnect(library);
  library.memory = OpenCardMemory(MappingNameFromEnvironment(), [](const CardMemory& memory) {
    return FindMailbox(memory.base, memory.size).has_value();
  });
  library.box = FindMailbox(library.memory.base, library.memory.size);
  if (!library.box) CloseCardMemory(library.memory);
  return library.box.has_value();
}

std::int32_t Fail(Library& library, std::int32_t why) {
  library.pending = Pending::Failed;
  library.answer = why;
  return why;
}

// The card's answer as the caller reads it: a non-zero signed byte.
std::int32_t CheckedAnswer(std::int32_t status) {
  return status != 0 && status >= -128 && status <= 127 ? status : QVRZORVA_BAD_ANSWER;
}

void CopyReply(const Library& library, void* reply, std::int32_t count) {
  if (reply == nullptr || count <= 0) return;
  const auto n = std::min(library.reply.size(), static_cast<std::size_t>(count));
  std::copy_n(library.reply.begin(), n, static_cast<std::uint8_t*>(reply));
}

}  // namespace

extern "C" int32_t WriteInterfaceBlock(int32_t card, const void* block, int32_t count) {
  Library& library = TheLibrary();
  std::lock_guard lock(library.mutex);
  if (!CardSelected(card) || block == nullptr || count < static_cast<std::int32_t>(BlockHeaderSize))
    return Fail(library, QVRZORVA_BAD_ARGUMENTS);
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  const std::uint32_t command = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
  // A new run may meet a card that has been replaced since the last one.
  if (command == CommandStart || !library.box || !MailboxServed(*library.box)) {
    if (!Connect(library)) return Fail(library, QVRZORVA_NO_CARD);
  }
  if (static_cast<std::uint32_t>(count) > library.box->requestCapacity) return Fail(library, QVRZORVA_BAD_ARGUMENTS);
  library.id = PostRequest(*library.box, bytes, static_cast<std::uint32_t>(count));
  library.pending = Pending::Waiting;
  library.reply.clear();
  AwaitReply(*library.box, library.id, AnswerWait);
  return count;
}

extern "C" int32_t ReadInterfaceBlock(int32_t card, void* reply, int32_t count) {
  Library& library = TheLibrary();
  std::lock_guard lock(library.mutex);
  if (!CardSelected(card)) return QVRZORVA_BAD_ARGUMENTS;
  switch (library.pending) {
    case Pending::Nothing:
      return 0;
    case Pending::Failed:
      return library.answer;
    case Pending::Answered:
      CopyReply(library, reply, count);
      return library.answer;
    case Pending::Waiting:
      break;
  }
  library.reply.resize(library.box->replyCapacity);
  const auto answer = TakeReply(*library.box, library.id, library.reply.data(),
                                static_cast<std::uint32_t>(library.reply.size()));
  if (!answer) {
    library.reply.clear();
    return 0;
  }
  library.reply.resize(answer->length);
  library.answer = CheckedAnswer(answer->status);
  library.pending = Pending::Answered;
  CopyReply(library, reply, count);
  return library.answer;
}
