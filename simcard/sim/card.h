// The simulated card's firmware: lays out the interface memory, serves the
// mailbox (start, data and end commands), keeps the flash, restarts after a
// run and notes what the host writes into area B.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "simcard/mailbox.h"
#include "simcard/memory_layout.h"
#include "simcard/sim/flash.h"

namespace qvr::simcard {

struct CardSettings {
  std::uint32_t cardState = 1;
  std::chrono::milliseconds restartTime{300};
  std::uint32_t reprogram = 0;
  std::optional<std::uint32_t> refuseBlock;  // image offset within the refused block
  std::chrono::microseconds replyDelay{0};
  std::optional<std::uint32_t> stopAnsweringAfter;
  bool neverRestart = false;
  bool noMagic = false;
  std::optional<std::string> flashOut;
  bool pciRoute = false;
};

struct Card {
  std::uint8_t* memory = nullptr;  // MemorySize bytes, laid out by LayOutMemory
  MailboxView box;
  Flash flash;
  CardSettings settings;

  Phase phase = Phase::Running;
  bool inRun = false;
  std::uint32_t runBlocks = 0;        // data blocks stored in this run
  std::uint32_t answeredData = 0;     // data commands answered in this run
  std::uint32_t lastRequest = 0;      // id of the last request taken
  std::uint32_t reprogramsLeft = 0;
  std::chrono::steady_clock::time_point restartDone;
  // A non-zero run word is recorded once it has stood for a poll interval,
  // so that the host's write-and-read-back sees its own value first.
  std::uint32_t runWordSeen = 0;
  std::chrono::steady_clock::time_point runWordSince;
};

// Fills the header, area B, the mailbox and the record; the magic last
// (unless settings.noMagic). `memory` is MemorySize bytes of zeros.
void LayOutMemory(Card& card, std::uint8_t* memory, std::uint32_t firmwareVersion, std::uint32_t ownerPid);

// Withdraws the mailbox and the magic, as the card leaves.
void TakeDownMemory(Card& card);

// What the card does with one request: the answer to post, none for no answer.
std::optional<std::int32_t> HandleRequest(Card& card, const CardRequest& request,
                                          std::vector<std::uint8_t>& reply);

// One round of the card's own work: notes the run word, ends a restart.
void Housekeeping(Card& card, std::chrono::steady_clock::time_point now);

// The card's loop until `stop` reads true.
void ServeCard(Card& card, const std::atomic<bool>& stop);

}  // namespace qvr::simcard
