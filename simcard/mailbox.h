// The mailbox in area A (layout in memory_layout.h): the host side used by
// the interface library and the card side used by the simulator.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qvr::simcard {

// A mailbox whose position and capacities have been checked against the
// size of the memory it lies in.
struct MailboxView {
  std::uint8_t* base = nullptr;  // start of the interface memory
  std::uint32_t area = 0;        // offset of area A
  std::uint32_t requestCapacity = 0;
  std::uint32_t replyCapacity = 0;
};

// Finds the mailbox through the header's AreaAOffset in `size` bytes at
// `base`. Empty unless the offset is aligned and in range, the mailbox magic
// and version are there, and both slots fit within the memory.
std::optional<MailboxView> FindMailbox(std::uint8_t* base, std::size_t size);

// True while the card still marks the mailbox as served.
bool MailboxServed(const MailboxView& box);

// Card side: lays out an empty mailbox at `area` (magic last) ...
MailboxView InitMailbox(std::uint8_t* base, std::uint32_t area, std::uint32_t requestCapacity,
                        std::uint32_t replyCapacity);
// ... and withdraws it when the card goes away.
void WithdrawMailbox(const MailboxView& box);

// Host side. Stores `count` bytes (at most requestCapacity) as a new request
// and wakes the card. Returns the request's id.
std::uint32_t PostRequest(const MailboxView& box, const std::uint8_t* bytes, std::uint32_t count);

struct HostReply {
  std::int32_t status = 0;
  std::uint32_t length = 0;  // bytes copied to the caller's buffer
};
// The card's answer to request `id`, once it is there. Copies at most
// `capacity` reply bytes to `out`.
std::optional<HostReply> TakeReply(const MailboxView& box, std::uint32_t id, std::uint8_t* out,
                                   std::uint32_t capacity);
// Waits until request `id` is answered or `limit` has passed. True when answered.
bool AwaitReply(const MailboxView& box, std::uint32_t id, std::chrono::microseconds limit);

// Card side.
struct CardRequest {
  std::uint32_t id = 0;
  std::vector<std::uint8_t> bytes;
  bool oversized = false;  // RequestLength exceeded the slot; bytes holds the slot
};
// The request newer than `lastId`, copied out consistently; empty while there
// is none or the host is in the middle of writing one.
std::optional<CardRequest> TakeRequest(const MailboxView& box, std::uint32_t lastId);
// Sleeps until RequestSeq moves away from `lastSeq` or `limit` passes.
void AwaitRequest(const MailboxView& box, std::uint32_t lastSeq, std::chrono::microseconds limit);
// Current RequestSeq.
std::uint32_t RequestSequence(const MailboxView& box);
// Answers request `id` with `status` and `bytes` (cut to replyCapacity).
void PostReply(const MailboxView& box, std::uint32_t id, std::int32_t status, const std::uint8_t* bytes,
               std::uint32_t count);

}  // namespace qvr::simcard
