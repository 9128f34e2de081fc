#include "image/validate.h"

#include <cstdio>
#include <cstring>

#include "image/firmware_image.h"

namespace qvr {

namespace {

const std::uint8_t* Bytes() { return TheImage.Data.data(); }

std::uint32_t B32(std::uint32_t p) { return ReadBigEndian32(Bytes() + p); }

// A big-endian 16-bit word taken as signed, widened to the 32-bit sum type.
inline std::uint32_t Word(const std::uint8_t* w) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(w[0] << 8 | w[1])));
}

std::uint32_t W(std::uint32_t p) { return Word(Bytes() + p); }

// Sum of the words at s, s + 2, ... below e, modulo 2^32; when e - s is odd
// the last word takes the byte at e as its low byte. Callers keep every byte
// read inside Data: e <= ImageSize, and e < ImageSize when e - s is odd.
// The sum runs over up to 256 KB at each validation: where the processor has
// wider vector registers the compiler gets a second copy of it to use them.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
std::uint32_t S(std::uint32_t s, std::uint32_t e) {
  if (e <= s) return 0;
  const std::uint8_t* data = Bytes();
  std::uint32_t sum = 0;
  std::uint32_t p = s;
  // Fixed-size blocks let the compiler turn the inner loop into vector code.
  constexpr std::uint32_t Block = 1024;
  for (; e - p >= Block; p += Block) {
    const std::uint8_t* b = data + p;
    std::uint32_t part = 0;
    for (std::uint32_t k = 0; k < Block; k += 2) part += Word(b + k);
    sum += part;
  }
  for (; p < e; p += 2) sum += Word(data + p);
  return sum;
}

std::string ChecksumMessage(const char* what, std::uint32_t generated, std::uint32_t address) {
  char text[128];
  std::snprintf(text, sizeof text, "%sChecksum error: Generated = %08x, Stored = %08x, Checksum address = 0x%X\n",
                what, generated, B32(address), address);
  return text;
}

// Hexadecimal length message; `stored` may exceed 32 bits (L_A + L_K).
std::string HexLengthMismatch(const char* what, std::uint64_t stored) {
  char text[128];
  std::snprintf(text, sizeof text, "Length mismatch%s: Read = 0x%X, Stored = 0x%llX\n", what, TheImage.LoadedLength,
                static_cast<unsigned long long>(stored));
  return text;
}

void Diagnostic(const char* line) { std::fputs(line, stdout); }

std::optional<std::string> ValidateApplicationOnly(std::uint32_t la) {
  Diagnostic("Kernel Not Present\n");
  // A stated length beyond Data cannot be summed: the image cannot be what
  // was loaded, so the length is what gets reported.
  if (la <= ImageSize) {
    const std::uint32_t generated = S(0, la) - W(0x8004) - W(0x8006);
    if (generated != B32(0x8004)) return ChecksumMessage("", generated, 0x8004);
  }
  if (la > ImageSize || la != TheImage.LoadedLength) {
    char text[96];
    std::snprintf(text, sizeof text, "Length mismatch: Read = %d, Stored = %d\n",
                  static_cast<int>(TheImage.LoadedLength), static_cast<int>(la));
    return text;
  }
  return std::nullopt;
}

std::optional<std::string> ValidateWithKernel(std::uint32_t la) {
  Diagnostic("Kernel Present\n");
  if (la > ImageSize) return HexLengthMismatch("", la);

  const std::uint32_t application = W(0x800C) + W(0x800E) + S(0x8030, la);
  if (application != B32(0x8004)) return ChecksumMessage("Application ", application, 0x8004);

  const std::uint32_t lk = B32(0x1008);
  if (lk > ImageSize) return HexLengthMismatch("", lk);
  const std::uint32_t kernel = S(0, 0x1000) + W(0x100C) + W(0x100E) + S(0x1030, lk);
  if (kernel != B32(0x1004)) return ChecksumMessage("", kernel, 0x1004);

  // A copy position whose magic would lie outside Data means no copy.
  const std::uint64_t q = std::uint64_t{la} + 0x1000;
  if (q + 4 <= ImageSize && B32(static_cast<std::uint32_t>(q)) == ImageMagic) {
    Diagnostic("Kernel Copy present\n");
    const std::uint64_t total = std::uint64_t{la} + lk;
    // A copy that would run past Data cannot match in full.
    if (total > ImageSize) return HexLengthMismatch(" (with Kernel Copy)", total);
    if (std::memcmp(Bytes() + la, Bytes(), lk) != 0) return "Kernel Copy does not match the Kernel\n";
    if (total != TheImage.LoadedLength) return HexLengthMismatch(" (with Kernel Copy)", total);
    return std::nullopt;
  }
  Diagnostic("Kernel Copy not found\n");
  if (la != TheImage.LoadedLength) return HexLengthMismatch("", la);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ValidateImage() {
  if (B32(ApplicationRecordOffset) != ImageMagic) return "No checksum block found\n";
  const std::uint32_t la = B32(0x8008);
  if (B32(KernelRecordOffset) != ImageMagic) return ValidateApplicationOnly(la);
  return ValidateWithKernel(la);
}

}  // namespace qvr
