// The card's interface library: hands command blocks to the card and fetches
// its replies. C linkage; the loader links it by name (libqvrzorva).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Hands `count` bytes of `block` (an 8-byte header and its payload) to the
// card. The card's answer then becomes available to ReadInterfaceBlock.
int32_t WriteInterfaceBlock(int32_t card, const void* block, int32_t count);

// Returns at once: 0 while no answer is there; otherwise a value whose low
// byte, read as a signed byte, is positive when the card accepted the last
// block and negative when it refused it.
int32_t ReadInterfaceBlock(int32_t card, void* reply, int32_t count);

#ifdef __cplusplus
}
#endif
