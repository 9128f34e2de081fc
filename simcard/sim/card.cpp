#include "simcard/sim/card.h"

#include <cstdio>
#include <string>
#include <thread>

#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "simcard/shared_words.h"

namespace qvr::simcard {

namespace {

constexpr std::chrono::milliseconds PollInterval{1};
constexpr std::uint32_t RunWordOffset = AreaBStart + InterfaceHeader::AreaBRunWord;
constexpr std::uint32_t CardStateAgain = 0x200;

void Log(const std::string& text) { std::fprintf(stderr, "qvr-card-sim: %s\n", text.c_str()); }

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

std::string FirmwareText(std::uint32_t version) {
  return std::string(StatusName(version >> 24)) + " " + VersionText(version >> 16 & 0xFF, version >> 8 & 0xFF, version & 0xFF);
}

void SetRecord(Card& card, std::uint32_t field, std::uint32_t value) { StoreWord(card.memory, RecordStart + field, value); }
void BumpRecord(Card& card, std::uint32_t field) { AddWord(card.memory, RecordStart + field, 1); }

void SetPhase(Card& card, Phase phase) {
  card.phase = phase;
  SetRecord(card, Record::Phase, static_cast<std::uint32_t>(phase));
}

std::uint32_t LittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
         std::uint32_t{bytes[at + 3]} << 24;
}

void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::uint32_t CommandStart = 1, CommandData = 2, CommandEnd = 3;
constexpr std::uint32_t HeaderBytes = 8;
constexpr std::uint32_t StartEndPayload = 1;
constexpr std::uint32_t DataPayload = 3 + FlashBlockSize;

std::int32_t StartRun(Card& card) {
  EraseFlash(card.flash);
  card.inRun = true;
  card.runBlocks = 0;
  card.answeredData = 0;
  BumpRecord(card, Record::RunsStarted);
  SetRecord(card, Record::RunBlocks, 0);
  Log("run " + std::to_string(LoadWord(card.memory, RecordStart + Record::RunsStarted)) + " started");
  return Answer::Accepted;
}

std::optional<std::int32_t> StoreData(Card& card, const std::vector<std::uint8_t>& bytes, std::uint32_t& address) {
  address = std::uint32_t{bytes[8]} << 16 | std::uint32_t{bytes[9]} << 8 | bytes[10];
  if (!card.inRun) return Answer::OutOfOrder;
  if (address % FlashBlockSize != 0 || address >= FlashSize) return Answer::Malformed;
  if (card.settings.stopAnsweringAfter && card.answeredData >= *card.settings.stopAnsweringAfter) {
    SetPhase(card, Phase::Silent);
    Log("stopped answering after " + std::to_string(card.answeredData) + " data blocks");
    return std::nullopt;
  }
  ++card.answeredData;
  if (card.settings.refuseBlock && address == (*card.settings.refuseBlock & ~(FlashBlockSize - 1))) {
    BumpRecord(card, Record::RefusedBlocks);
    Log("block " + Hex(address) + " refused");
    return Answer::Refused;
  }
  StoreBlock(card.flash, address, bytes.data() + 11);
  ++card.runBlocks;
  SetRecord(card, Record::RunBlocks, card.runBlocks);
  return Answer::Accepted;
}

void BeginRestart(Card& card) {
  if (card.settings.flashOut) {
    std::string error;
    if (!WriteFlashFile(card.flash, *card.settings.flashOut, error)) Log("cannot write the flash: " + error);
  }
  // The firmware goes away: whatever the host left there, no magic now.
  ExchangeWord(card.memory, InterfaceHeader::Magic, ImageMagic, 0);
  if (card.settings.neverRestart) {
    SetPhase(card, Phase::Halted);
    Log("not restarting");
    return;
  }
  card.restartDone = std::chrono::steady_clock::now() + card.settings.restartTime;
  SetPhase(card, Phase::Restarting);
}

std::int32_t EndRun(Card& card) {
  if (!card.inRun) return Answer::OutOfOrder;
  card.inRun = false;
  SetRecord(card, Record::LastRunBlocks, card.runBlocks);
  BumpRecord(card, Record::RunsEnded);
  Log("run ended after " + std::to_string(card.runBlocks) + " blocks");
  BeginRestart(card);
  return Answer::Accepted;
}

void FinishRestart(Card& card) {
  const std::uint32_t version = FirmwareVersionOf(card.flash);
  std::uint32_t state = 1;
  if (card.reprogramsLeft > 0) {
    state |= CardStateAgain;
    --card.reprogramsLeft;
    SetRecord(card, Record::ReprogramsLeft, card.reprogramsLeft);
  }
  StoreWord(card.memory, InterfaceHeader::FirmwareVersion, version);
  StoreWord(card.memory, InterfaceHeader::CardState, state);
  SetPhase(card, Phase::Running);
  StoreWord(card.memory, InterfaceHeader::Magic, ImageMagic, std::memory_order_release);
  Log("restarted: " + FirmwareText(version) + ", card state " + Hex(state));
}

void NoteRunWord(Card& card, std::chrono::steady_clock::time_point now) {
  const std::uint32_t word = LoadWord(card.memory, RunWordOffset, std::memory_order_acquire);
  if (word == 0) {
    card.runWordSeen = 0;
  } else if (word != card.runWordSeen) {
    card.runWordSeen = word;
    card.runWordSince = now;
  } else if (now - card.runWordSince >= PollInterval && ExchangeWord(card.memory, RunWordOffset, word, 0)) {
    const std::uint32_t writes = AddWord(card.memory, RecordStart + Record::RunWordWrites, 1);
    SetRecord(card, Record::RunWordLast, word);
    SetRecord(card, Record::RunWordHistory + 4 * ((writes - 1) % Record::RunWordHistorySize), word);
    card.runWordSeen = 0;
    Log("host wrote " + Hex(word) + " at area B + 8");
  }
}

}  // namespace

void LayOutMemory(Card& card, std::uint8_t* memory, std::uint32_t firmwareVersion, std::uint32_t ownerPid) {
  card.memory = memory;
  card.reprogramsLeft = card.settings.reprogram;
  StoreWord(memory, InterfaceHeader::FirmwareVersion, firmwareVersion);
  StoreWord(memory, InterfaceHeader::AreaAOffset, AreaAStart);
  StoreWord(memory, InterfaceHeader::AreaBOffset, AreaBStart);
  StoreWord(memory, InterfaceHeader::CardState, card.settings.cardState);
  SetRecord(card, Record::OwnerPid, ownerPid);
  SetRecord(card, Record::ReprogramsLeft, card.reprogramsLeft);
  SetRecord(card, Record::Route, card.settings.pciRoute ? 1 : 0);
  SetPhase(card, Phase::Running);
  StoreWord(memory, RecordStart + Record::Magic, Record::RecordMagic, std::memory_order_release);
  card.box = InitMailbox(memory, AreaAStart, Mailbox::DefaultRequestCapacity, Mailbox::DefaultReplyCapacity);
  if (!card.settings.noMagic) StoreWord(memory, InterfaceHeader::Magic, ImageMagic, std::memory_order_release);
}

void TakeDownMemory(Card& card) {
  if (card.memory == nullptr) return;
  WithdrawMailbox(card.box);
  StoreWord(card.memory, InterfaceHeader::Magic, 0, std::memory_order_release);
  StoreWord(card.memory, RecordStart + Record::Magic, 0, std::memory_order_release);
}

std::optional<std::int32_t> HandleRequest(Card& card, const CardRequest& request, std::vector<std::uint8_t>& reply) {
  const std::vector<std::uint8_t>& bytes = request.bytes;
  reply.assign(Reply::Size, 0);
  std::uint32_t command = 0, address = 0;
  std::optional<std::int32_t> answer;
  if (request.oversized || bytes.size() < HeaderBytes ||
      std::uint64_t{LittleEndian(bytes, 4)} + HeaderBytes != bytes.size()) {
    answer = Answer::Malformed;
    if (bytes.size() >= 4) command = LittleEndian(bytes, 0);
  } else {
    command = LittleEndian(bytes, 0);
    const std::uint32_t payload = LittleEndian(bytes, 4);
    switch (command) {
      case CommandStart:
        answer = payload == StartEndPayload ? StartRun(card) : Answer::Malformed;
        break;
      case CommandData:
        answer = payload == DataPayload ? StoreData(card, bytes, address) : Answer::Malformed;
        break;
      case CommandEnd:
        answer = payload == StartEndPayload ? EndRun(card) : Answer::Malformed;
        break;
      default:
        answer = Answer::UnknownCommand;
        break;
    }
  }
  if (!answer) return std::nullopt;
  if (*answer < 0 && *answer != Answer::Refused) Log("command " + std::to_string(command) + " refused with " + std::to_string(*answer));
  PutLittleEndian(reply, Reply::Command, command);
  PutLittleEndian(reply, Reply::Status, static_cast<std::uint32_t>(*answer));
  PutLittleEndian(reply, Reply::Address, address);
  PutLittleEndian(reply, Reply::Blocks, card.runBlocks);
  return answer;
}

void Housekeeping(Card& card, std::chrono::steady_clock::time_point now) {
  NoteRunWord(card, now);
  if (card.phase == Phase::Restarting && now >= card.restartDone) FinishRestart(card);
}

void ServeCard(Card& card, const std::atomic<bool>& stop) {
  std::vector<std::uint8_t> reply;
  while (!stop.load()) {
    Housekeeping(card, std::chrono::steady_clock::now());
    if (card.phase != Phase::Running) {
      std::this_thread::sleep_for(PollInterval);
      continue;
    }
    const std::uint32_t seen = RequestSequence(card.box);
    if (auto request = TakeRequest(card.box, card.lastRequest)) {
      card.lastRequest = request->id;
      if (const auto answer = HandleRequest(card, *request, reply)) {
        if (card.settings.replyDelay.count() > 0) std::this_thread::sleep_for(card.settings.replyDelay);
        PostReply(card.box, request->id, *answer, reply.data(), static_cast<std::uint32_t>(reply.size()));
      }
      continue;
    }
    AwaitRequest(card.box, seen, PollInterval);
  }
}

}  // namespace qvr::simcard
