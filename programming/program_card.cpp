#include "programming/program_card.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "image/firmware_image.h"
#include "platform/message_box.h"
#include "simcard/interface_library/qvrzorva.h"

namespace qvr {

namespace {

constexpr std::int32_t AnyCard = -1;
constexpr std::uint32_t FailureFlags = platform::MbOk | platform::MbServiceNotification;
constexpr const char* FailureCaption = "Programming Error";

bool IsBlockEmpty(std::uint32_t offset) {
  const auto* block = TheImage.Data.data() + offset;
  return std::all_of(block, block + InterfaceBlock::BlockBytes, [](std::uint8_t b) { return b == 0xFF; });
}

template <std::size_t N>
void PutHeader(std::array<std::uint8_t, N>& block, std::uint32_t command, std::uint32_t payload) {
  for (int i = 0; i < 4; ++i) {
    block[i] = static_cast<std::uint8_t>(command >> (8 * i));
    block[4 + i] = static_cast<std::uint8_t>(payload >> (8 * i));
  }
}

std::string WithOffset(const char* format, std::uint32_t offset) {
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(offset));
  return text;
}

void ReportFailure(const std::string& text) {
  platform::ShowMessageBox(text, FailureCaption, FailureFlags);
}

}  // namespace

InterfaceLibrary LinkedInterfaceLibrary() {
  return {&::WriteInterfaceBlock, &::ReadInterfaceBlock};
}

void NameThread() {
  pthread_setname_np(pthread_self(), "Talk to Card");
}

ProgramCard::ProgramCard(InterfaceLibrary library, std::chrono::milliseconds answerLimit)
    : library_(library), answerLimit_(answerLimit) {
  std::int32_t total = 0;
  for (std::uint32_t offset = 0; offset < ImageSize; offset += InterfaceBlock::BlockBytes) {
    if (!IsBlockEmpty(offset)) ++total;
  }
  TotalBlocks = total;
  // Last step of construction: the thread sees a finished object.
  thread_ = std::thread(&ProgramCard::Execute, this);
}

ProgramCard::~ProgramCard() {
  if (thread_.joinable()) thread_.join();
}

std::int8_t ProgramCard::ExchangeBlock(const std::uint8_t* block, std::uint32_t count) {
  const auto deadline = std::chrono::steady_clock::now() + answerLimit_;
  std::array<std::uint8_t, InterfaceBlock::ReplySize> reply;
  library_.WriteInterfaceBlock(AnyCard, block, static_cast<std::int32_t>(count));
  for (;;) {
    const auto answer = static_cast<std::int8_t>(static_cast<std::uint8_t>(
        library_.ReadInterfaceBlock(AnyCard, reply.data(), static_cast<std::int32_t>(reply.size()))));
    if (answer != 0) return answer;
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ProgramCard::Execute() {
  using namespace InterfaceBlock;
  NameThread();

  // The payload byte of the start and end commands carries nothing; it is sent as 0.
  std::array<std::uint8_t, HeaderSize + StartEndPayload> command{};
  PutHeader(command, CommandStart, StartEndPayload);
  if (ExchangeBlock(command.data(), command.size()) == 0) {
    ReportFailure("No answer from card");
  } else {
    std::array<std::uint8_t, HeaderSize + DataPayload> data{};
    PutHeader(data, CommandData, DataPayload);
    for (std::uint32_t offset = 0; offset < ImageSize; offset += BlockBytes) {
      if (IsBlockEmpty(offset)) continue;
      data[HeaderSize + 0] = static_cast<std::uint8_t>(offset >> 16);
      data[HeaderSize + 1] = static_cast<std::uint8_t>(offset >> 8);
      data[HeaderSize + 2] = static_cast<std::uint8_t>(offset);
      std::copy_n(TheImage.Data.data() + offset, BlockBytes, data.data() + HeaderSize + 3);
      const std::int8_t answer = ExchangeBlock(data.data(), data.size());
      if (answer < 0) {
        ReportFailure(WithOffset("Programming failed @ block %x", offset));
        break;
      }
      if (answer == 0) {
        ReportFailure(WithOffset("No answer from card @ block %x", offset));
        break;
      }
      BlocksDone.fetch_add(1);
    }
  }

  PutHeader(command, CommandEnd, StartEndPayload);
  library_.WriteInterfaceBlock(AnyCard, command.data(), static_cast<std::int32_t>(command.size()));
  Running = false;
}

}  // namespace qvr
