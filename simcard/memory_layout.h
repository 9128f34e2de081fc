// The simulated card's interface memory: where its areas lie, the mailbox in
// area A through which the interface library hands blocks to the card, and
// the simulator's own record. All words are little-endian u32 at byte
// offsets; the header fields themselves are in card/interface_header.h.
#pragma once

#include <cstdint>

namespace qvr::simcard {

inline constexpr std::uint32_t MemorySize = 0x10000;   // 64 KB
inline constexpr std::uint32_t AreaAStart = 0x1000;    // the mailbox
inline constexpr std::uint32_t AreaBStart = 0x2000;    // the host's words (run word at +8)
inline constexpr std::uint32_t AreaBSize = 0x1000;
inline constexpr std::uint32_t RecordStart = 0x3000;   // the simulator's record

// The mailbox at the start of area A. One request and one reply slot.
//
// The host writes a request as a sequence lock: RequestSeq becomes odd, the
// bytes and RequestLength are stored, then RequestSeq becomes the next even
// value (release). That even value is the request's id. The card copies the
// request and checks RequestSeq again before it trusts the copy. It answers
// by storing ReplyStatus, ReplyLength and the reply bytes, then ReplySeq = the
// id (release). Both sides wake each other with a futex on RequestSeq and
// ReplySeq; the words work as plain shared words without it.
namespace Mailbox {
inline constexpr std::uint32_t Magic = 0;            // MailboxMagic while the card serves it
inline constexpr std::uint32_t Version = 4;          // MailboxVersion
inline constexpr std::uint32_t RequestCapacity = 8;  // bytes of the request slot
inline constexpr std::uint32_t ReplyCapacity = 12;   // bytes of the reply slot
inline constexpr std::uint32_t RequestSeq = 16;
inline constexpr std::uint32_t RequestLength = 20;
inline constexpr std::uint32_t ReplySeq = 24;
inline constexpr std::uint32_t ReplyStatus = 28;     // signed; low byte is the answer
inline constexpr std::uint32_t ReplyLength = 32;
inline constexpr std::uint32_t Slots = 64;           // request slot, then reply slot

inline constexpr std::uint32_t MailboxMagic = 0x424D5651;  // "QVMB"
inline constexpr std::uint32_t MailboxVersion = 1;
inline constexpr std::uint32_t DefaultRequestCapacity = 512;
inline constexpr std::uint32_t DefaultReplyCapacity = 128;

// Bounds a reader accepts for the capacities it finds.
inline constexpr std::uint32_t MinRequestCapacity = 139;  // a data command
inline constexpr std::uint32_t MaxRequestCapacity = 0x8000;
inline constexpr std::uint32_t MinReplyCapacity = 16;
inline constexpr std::uint32_t MaxReplyCapacity = 0x1000;
}  // namespace Mailbox

// What the card puts into the reply slot (16 bytes).
namespace Reply {
inline constexpr std::uint32_t Command = 0;   // command code answered
inline constexpr std::uint32_t Status = 4;    // the same answer as ReplyStatus
inline constexpr std::uint32_t Address = 8;   // image address of a data command, else 0
inline constexpr std::uint32_t Blocks = 12;   // data blocks stored in this run so far
inline constexpr std::uint32_t Size = 16;
}  // namespace Reply

// Answers of the card. Positive: accepted. Negative: refused, by reason.
namespace Answer {
inline constexpr std::int32_t Accepted = 1;
inline constexpr std::int32_t Refused = -1;        // --refuse-block
inline constexpr std::int32_t Malformed = -2;      // length, payload or address wrong
inline constexpr std::int32_t OutOfOrder = -3;     // data before a start command
inline constexpr std::int32_t UnknownCommand = -4;
}  // namespace Answer

// The simulator's record: who serves the memory and what the host did.
namespace Record {
inline constexpr std::uint32_t Magic = 0;             // RecordMagic
inline constexpr std::uint32_t OwnerPid = 4;
inline constexpr std::uint32_t Phase = 8;             // Phase values below
inline constexpr std::uint32_t RunsStarted = 12;
inline constexpr std::uint32_t RunsEnded = 16;
inline constexpr std::uint32_t RunBlocks = 20;        // data blocks stored in the current run
inline constexpr std::uint32_t LastRunBlocks = 24;    // ... in the last ended run
inline constexpr std::uint32_t RefusedBlocks = 28;
inline constexpr std::uint32_t ReprogramsLeft = 32;
inline constexpr std::uint32_t RunWordWrites = 36;    // non-zero writes seen at area B + 8
inline constexpr std::uint32_t RunWordLast = 40;
inline constexpr std::uint32_t BridgeWrites = 44;     // bridge register writes (PCI route)
inline constexpr std::uint32_t BridgeLastOffset = 48;
inline constexpr std::uint32_t BridgeLastValue = 52;
inline constexpr std::uint32_t Bridge28Value = 56;    // last value written at register 0x28
inline constexpr std::uint32_t Route = 60;            // 0 named mapping, 1 PCI
inline constexpr std::uint32_t RunWordHistory = 64;   // the last RunWordHistorySize values
inline constexpr std::uint32_t RunWordHistorySize = 16;
inline constexpr std::uint32_t Size = RunWordHistory + 4 * RunWordHistorySize;

inline constexpr std::uint32_t RecordMagic = 0x4D535651;  // "QVSM"
}  // namespace Record

enum class Phase : std::uint32_t {
  Running = 0,      // firmware up, mailbox served
  Restarting = 1,   // after an end command, magic away
  Halted = 2,       // --never-restart: stays away
  Silent = 3,       // --stop-answering-after reached
};

}  // namespace qvr::simcard
