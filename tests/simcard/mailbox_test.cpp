// The mailbox as both sides read it out of memory that the other side (or
// anything else) may have filled with nonsense.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "card/interface_header.h"
#include "simcard/mailbox.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"
#include "tests/simcard/case_name.h"

namespace qvr::simcard {
namespace {

constexpr std::uint32_t Area = 0x100;
constexpr std::uint32_t Size = 0x2000;

// A zeroed, word-aligned memory with a served mailbox at Area.
struct Memory {
  std::vector<std::uint32_t> words = std::vector<std::uint32_t>(Size / 4, 0);
  std::uint8_t* base() { return reinterpret_cast<std::uint8_t*>(words.data()); }
  Memory() {
    StoreWord(base(), InterfaceHeader::AreaAOffset, Area);
    InitMailbox(base(), Area, Mailbox::DefaultRequestCapacity, Mailbox::DefaultReplyCapacity);
  }
  void Set(std::uint32_t offset, std::uint32_t value) { StoreWord(base(), offset, value); }
};

TEST(Mailbox, FoundWhereTheHeaderPoints) {
  Memory memory;
  const auto box = FindMailbox(memory.base(), Size);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->area, Area);
  EXPECT_EQ(box->requestCapacity, Mailbox::DefaultRequestCapacity);
  EXPECT_EQ(box->replyCapacity, Mailbox::DefaultReplyCapacity);
  EXPECT_TRUE(MailboxServed(*box));
  WithdrawMailbox(*box);
  EXPECT_FALSE(MailboxServed(*box));
  EXPECT_FALSE(FindMailbox(memory.base(), Size));
}

struct Damage {
  const char* what;
  std::function<void(Memory&)> apply;
  std::size_t size = Size;
};

class DamagedMailbox : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedMailbox, IsNotUsed) {
  Memory memory;
  GetParam().apply(memory);
  EXPECT_FALSE(FindMailbox(memory.base(), GetParam().size)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedMailbox,
    ::testing::Values(
        Damage{"area A at the end of memory", [](Memory& m) { m.Set(InterfaceHeader::AreaAOffset, Size); }},
        Damage{"area A far beyond memory", [](Memory& m) { m.Set(InterfaceHeader::AreaAOffset, 0xFFFFFFF0); }},
        Damage{"area A misaligned", [](Memory& m) { m.Set(InterfaceHeader::AreaAOffset, Area + 2); }},
        Damage{"area A inside the header", [](Memory& m) { m.Set(InterfaceHeader::AreaAOffset, 8); }},
        Damage{"no mailbox magic", [](Memory& m) { m.Set(Area + Mailbox::Magic, 0); }},
        Damage{"other version", [](Memory& m) { m.Set(Area + Mailbox::Version, 2); }},
        Damage{"request slot too small for a data block",
               [](Memory& m) { m.Set(Area + Mailbox::RequestCapacity, 136); }},
        Damage{"request slot huge", [](Memory& m) { m.Set(Area + Mailbox::RequestCapacity, 0x7FFFFFFC); }},
        Damage{"request slot misaligned", [](Memory& m) { m.Set(Area + Mailbox::RequestCapacity, 514); }},
        Damage{"reply slot huge", [](Memory& m) { m.Set(Area + Mailbox::ReplyCapacity, 0xFFFFFFFC); }},
        Damage{"slots run past the end",
               [](Memory& m) {
                 m.Set(InterfaceHeader::AreaAOffset, Size - 0x200);
                 StoreWord(m.base(), Size - 0x200 + Mailbox::Magic, Mailbox::MailboxMagic);
                 StoreWord(m.base(), Size - 0x200 + Mailbox::Version, Mailbox::MailboxVersion);
                 StoreWord(m.base(), Size - 0x200 + Mailbox::RequestCapacity, Mailbox::DefaultRequestCapacity);
                 StoreWord(m.base(), Size - 0x200 + Mailbox::ReplyCapacity, Mailbox::DefaultReplyCapacity);
               }},
        Damage{"memory smaller than the mailbox", [](Memory&) {}, Area + 0x100},
        Damage{"memory smaller than the header", [](Memory&) {}, 16}),
    [](const auto& info) { return test::CaseName(info.param.what); });

TEST(Mailbox, RequestArrivesWholeWithANewId) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  const std::vector<std::uint8_t> block = {2, 0, 0, 0, 3, 0, 0, 0, 0x01, 0x23, 0x80};
  const std::uint32_t id = PostRequest(box, block.data(), static_cast<std::uint32_t>(block.size()));
  EXPECT_NE(id, 0u);
  EXPECT_EQ(id % 2, 0u);
  const auto request = TakeRequest(box, 0);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->id, id);
  EXPECT_EQ(request->bytes, block);
  EXPECT_FALSE(request->oversized);
  EXPECT_FALSE(TakeRequest(box, id)) << "the same request twice";
}

TEST(Mailbox, RequestIdsSkipZeroWhenTheyWrap) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  memory.Set(Area + Mailbox::RequestSeq, 0xFFFFFFFE);
  const std::uint8_t byte = 7;
  const std::uint32_t id = PostRequest(box, &byte, 1);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, 0xFFFFFFFEu);
  EXPECT_EQ(id % 2, 0u);
  EXPECT_TRUE(TakeRequest(box, 0xFFFFFFFE));
}

TEST(Mailbox, RequestBeingWrittenIsNotTaken) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  memory.Set(Area + Mailbox::RequestSeq, 5);
  EXPECT_FALSE(TakeRequest(box, 0));
}

TEST(Mailbox, RequestLengthBeyondTheSlotIsCutAndMarked) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  memory.Set(Area + Mailbox::RequestSeq, 2);
  memory.Set(Area + Mailbox::RequestLength, 0xFFFFFFFF);
  const auto request = TakeRequest(box, 0);
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->oversized);
  EXPECT_EQ(request->bytes.size(), box.requestCapacity);
}

TEST(Mailbox, ReplyOnlyForItsRequest) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  const std::uint8_t byte = 1;
  const std::uint32_t id = PostRequest(box, &byte, 1);
  std::uint8_t out[16] = {};
  EXPECT_FALSE(TakeReply(box, id, out, sizeof out));
  EXPECT_FALSE(AwaitReply(box, id, std::chrono::microseconds(0)));

  const std::uint8_t reply[4] = {9, 8, 7, 6};
  PostReply(box, id + 2, 1, reply, 4);
  EXPECT_FALSE(TakeReply(box, id, out, sizeof out));
  PostReply(box, id, -1, reply, 4);
  EXPECT_TRUE(AwaitReply(box, id, std::chrono::microseconds(0)));
  const auto answer = TakeReply(box, id, out, sizeof out);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, -1);
  EXPECT_EQ(answer->length, 4u);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[3], 6);
}

TEST(Mailbox, ReplyLengthIsBoundedBySlotAndBuffer) {
  Memory memory;
  const auto box = *FindMailbox(memory.base(), Size);
  const std::uint8_t byte = 1;
  const std::uint32_t id = PostRequest(box, &byte, 1);
  memory.Set(Area + Mailbox::ReplyLength, 0xFFFFFFFF);
  memory.Set(Area + Mailbox::ReplySeq, id);
  std::vector<std::uint8_t> out(4096, 0xEE);
  auto answer = TakeReply(box, id, out.data(), static_cast<std::uint32_t>(out.size()));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->length, box.replyCapacity);
  EXPECT_EQ(out[box.replyCapacity], 0xEE) << "nothing written past the slot's length";
  answer = TakeReply(box, id, out.data(), 3);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->length, 3u);
}

}  // namespace
}  // namespace qvr::simcard
