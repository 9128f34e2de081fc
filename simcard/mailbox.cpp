#include "simcard/mailbox.h"

#include <algorithm>
#include <atomic>

#include "card/interface_header.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"

namespace qvr::simcard {

namespace {

std::uint32_t Field(const MailboxView& box, std::uint32_t field) { return box.area + field; }
std::uint32_t RequestSlot(const MailboxView& box) { return box.area + Mailbox::Slots; }
std::uint32_t ReplySlot(const MailboxView& box) { return box.area + Mailbox::Slots + box.requestCapacity; }

bool CapacityFits(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  return value >= low && value <= high && value % 4 == 0;
}

}  // namespace

std::optional<MailboxView> FindMailbox(std::uint8_t* base, std::size_t size) {
  if (base == nullptr || size < InterfaceHeader::HeaderSize) return std::nullopt;
  const std::uint32_t area = LoadWord(base, InterfaceHeader::AreaAOffset, std::memory_order_acquire);
  if (area % 4 != 0 || area < InterfaceHeader::HeaderSize) return std::nullopt;
  if (std::uint64_t{area} + Mailbox::Slots > size) return std::nullopt;
  if (LoadWord(base, area + Mailbox::Magic, std::memory_order_acquire) != Mailbox::MailboxMagic) return std::nullopt;
  if (LoadWord(base, area + Mailbox::Version) != Mailbox::MailboxVersion) return std::nullopt;
  MailboxView box{base, area, LoadWord(base, area + Mailbox::RequestCapacity),
                  LoadWord(base, area + Mailbox::ReplyCapacity)};
  if (!CapacityFits(box.requestCapacity, Mailbox::MinRequestCapacity, Mailbox::MaxRequestCapacity) ||
      !CapacityFits(box.replyCapacity, Mailbox::MinReplyCapacity, Mailbox::MaxReplyCapacity))
    return std::nullopt;
  if (std::uint64_t{area} + Mailbox::Slots + box.requestCapacity + box.replyCapacity > size) return std::nullopt;
  return box;
}

bool MailboxServed(const MailboxView& box) {
  return LoadWord(box.base, Field(box, Mailbox::Magic), std::memory_order_acquire) == Mailbox::MailboxMagic;
}

MailboxView InitMailbox(std::uint8_t* base, std::uint32_t area, std::uint32_t requestCapacity,
                        std::uint32_t replyCapacity) {
  const MailboxView box{base, area, requestCapacity, replyCapacity};
  StoreWord(base, Field(box, Mailbox::Version), Mailbox::MailboxVersion);
  StoreWord(base, Field(box, Mailbox::RequestCapacity), requestCapacity);
  StoreWord(base, Field(box, Mailbox::ReplyCapacity), replyCapacity);
  StoreWord(base, Field(box, Mailbox::RequestSeq), 0);
  StoreWord(base, Field(box, Mailbox::RequestLength), 0);
  StoreWord(base, Field(box, Mailbox::ReplySeq), 0);
  StoreWord(base, Field(box, Mailbox::ReplyStatus), 0);
  StoreWord(base, Field(box, Mailbox::ReplyLength), 0);
  StoreWord(base, Field(box, Mailbox::Magic), Mailbox::MailboxMagic, std::memory_order_release);
  return box;
}

void WithdrawMailbox(const MailboxView& box) {
  StoreWord(box.base, Field(box, Mailbox::Magic), 0, std::memory_order_release);
  WakeWordWaiters(box.base, Field(box, Mailbox::RequestSeq));
  WakeWordWaiters(box.base, Field(box, Mailbox::ReplySeq));
}

std::uint32_t PostRequest(const MailboxView& box, const std::uint8_t* bytes, std::uint32_t count) {
  count = std::min(count, box.requestCapacity);
  // Even values are finished requests; an odd one means a write in progress
  // (or one that its writer abandoned), which this write completes.
  const std::uint32_t current = LoadWord(box.base, Field(box, Mailbox::RequestSeq));
  const std::uint32_t even = (current + 1) & ~1u;
  std::uint32_t id = even + 2;
  if (id == 0) id = 2;  // 0 means "nothing asked yet"
  StoreWord(box.base, Field(box, Mailbox::RequestSeq), even + 1);
  std::atomic_thread_fence(std::memory_order_release);
  StoreBytes(box.base, RequestSlot(box), bytes, count);
  StoreWord(box.base, Field(box, Mailbox::RequestLength), count);
  StoreWord(box.base, Field(box, Mailbox::RequestSeq), id, std::memory_order_release);
  WakeWordWaiters(box.base, Field(box, Mailbox::RequestSeq));
  return id;
}

std::optional<HostReply> TakeReply(const MailboxView& box, std::uint32_t id, std::uint8_t* out,
                                   std::uint32_t capacity) {
  if (LoadWord(box.base, Field(box, Mailbox::ReplySeq), std::memory_order_acquire) != id) return std::nullopt;
  HostReply reply;
  reply.status = static_cast<std::int32_t>(LoadWord(box.base, Field(box, Mailbox::ReplyStatus)));
  const std::uint32_t length = std::min(LoadWord(box.base, Field(box, Mailbox::ReplyLength)), box.replyCapacity);
  reply.length = out == nullptr ? 0 : std::min(length, capacity);
  LoadBytes(box.base, ReplySlot(box), out, reply.length);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (LoadWord(box.base, Field(box, Mailbox::ReplySeq)) != id) return std::nullopt;
  return reply;
}

bool AwaitReply(const MailboxView& box, std::uint32_t id, std::chrono::microseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::uint32_t seen = LoadWord(box.base, Field(box, Mailbox::ReplySeq), std::memory_order_acquire);
    if (seen == id) return true;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    WaitWhileWord(box.base, Field(box, Mailbox::ReplySeq), seen, left);
  }
}

std::optional<CardRequest> TakeRequest(const MailboxView& box, std::uint32_t lastId) {
  const std::uint32_t seq = LoadWord(box.base, Field(box, Mailbox::RequestSeq), std::memory_order_acquire);
  if (seq == lastId || seq % 2 != 0) return std::nullopt;
  CardRequest request;
  request.id = seq;
  const std::uint32_t length = LoadWord(box.base, Field(box, Mailbox::RequestLength));
  request.oversized = length > box.requestCapacity;
  request.bytes.resize(std::min(length, box.requestCapacity));
  LoadBytes(box.base, RequestSlot(box), request.bytes.data(), static_cast<std::uint32_t>(request.bytes.size()));
  std::atomic_thread_fence(std::memory_order_acquire);
  if (LoadWord(box.base, Field(box, Mailbox::RequestSeq)) != seq) return std::nullopt;
  return request;
}

void AwaitRequest(const MailboxView& box, std::uint32_t lastSeq, std::chrono::microseconds limit) {
  WaitWhileWord(box.base, Field(box, Mailbox::RequestSeq), lastSeq, limit);
}

std::uint32_t RequestSequence(const MailboxView& box) {
  return LoadWord(box.base, Field(box, Mailbox::RequestSeq), std::memory_order_acquire);
}

void PostReply(const MailboxView& box, std::uint32_t id, std::int32_t status, const std::uint8_t* bytes,
               std::uint32_t count) {
  count = std::min(count, box.replyCapacity);
  StoreWord(box.base, Field(box, Mailbox::ReplyStatus), static_cast<std::uint32_t>(status));
  StoreWord(box.base, Field(box, Mailbox::ReplyLength), count);
  StoreBytes(box.base, ReplySlot(box), bytes, count);
  StoreWord(box.base, Field(box, Mailbox::ReplySeq), id, std::memory_order_release);
  WakeWordWaiters(box.base, Field(box, Mailbox::ReplySeq));
}

}  // namespace qvr::simcard
