// The card's interface library: hands command blocks to the card and fetches
// its replies. C linkage; the loader links it by name (libqvrzorva).
//
// The library finds the card's interface memory by itself, as the loader
// does: the named mapping ("QVRZORVA mapped file", or the name in
// QVR_MAPPING_NAME), else region 2 of the first QVZORVA-n device that offers
// a mailbox. It keeps its own connection and never touches the loader's. It
// connects on first use, again at every start command (command code 1), and
// whenever the card has withdrawn its mailbox.
//
// Calls are serialised by the library; one block is in flight at a time.
#pragma once

#include <stdint.h>

#if defined(__GNUC__)
#define QVRZORVA_API __attribute__((visibility("default")))
#else
#define QVRZORVA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Answers the library gives itself, without the card (low bytes negative,
// so the caller takes them as refusals).
#define QVRZORVA_NO_CARD (-64)        /* no interface memory or mailbox reached */
#define QVRZORVA_BAD_ARGUMENTS (-65)  /* card not -1 or 0, no block, count out of range */
#define QVRZORVA_BAD_ANSWER (-66)     /* the card's answer was 0 or beyond a signed byte */

// Hands `count` bytes of `block` (an 8-byte header and its payload) to the
// card; `card` is -1 (the card the interface memory belongs to) or 0. Waits
// up to 20 ms for the card's answer, so that the next ReadInterfaceBlock
// usually finds it. Returns `count` once the block is in the mailbox,
// otherwise one of the negative values above, which the next read repeats.
QVRZORVA_API int32_t WriteInterfaceBlock(int32_t card, const void* block, int32_t count);

// Returns at once: 0 while no answer is there (or nothing was written yet);
// otherwise a value whose low byte, read as a signed byte, is positive when
// the card accepted the last block and negative when it refused it. The same
// answer is returned until the next write. With an answer, copies up to
// `count` bytes of the card's reply to `reply` (when not null): u32 command
// answered, i32 answer, u32 image address of a data command, u32 data blocks
// stored in this run, all little-endian.
QVRZORVA_API int32_t ReadInterfaceBlock(int32_t card, void* reply, int32_t count);

#ifdef __cplusplus
}
#endif
