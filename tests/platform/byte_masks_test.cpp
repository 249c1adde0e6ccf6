// The dump's 16-byte classifiers: the SSE2 forms and the plain loops that
// replace them elsewhere must both give, for every byte value in every
// position, the class the byte is defined to have.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "platform/byte_masks.h"

namespace norvale::masks {
namespace {

using TChunk = std::array<uint8_t, 16>;

// The classes, byte by byte, as the fast paths rely on them.
bool IsControl(uint8_t c) { return c < 0x20 || c == 0x7F; }
bool IsUnusual(uint8_t c, uint8_t a, uint8_t b) { return IsControl(c) || c >= 0x80 || c == a || c == b; }

template <typename F>
uint32_t Expected(const TChunk& chunk, F test) {
  uint32_t mask = 0;
  for (int i = 0; i < 16; ++i)
    if (test(chunk[static_cast<size_t>(i)])) mask |= 1u << i;
  return mask;
}

// Both implementations against the definitions, on one chunk.
void ExpectClasses(const TChunk& chunk, uint8_t a, uint8_t b) {
  const uint8_t* p = chunk.data();
  const uint32_t high = Expected(chunk, [](uint8_t c) { return c >= 0x80; });
  const uint32_t control = Expected(chunk, IsControl);
  const uint32_t digit = Expected(chunk, [](uint8_t c) { return c >= '0' && c <= '9'; });
  const uint32_t unusual = Expected(chunk, [&](uint8_t c) { return IsUnusual(c, a, b); });
  const uint32_t equal = Expected(chunk, [&](uint8_t c) { return c == a; });
  EXPECT_EQ(High(p), high);
  EXPECT_EQ(portable::High(p), high);
  EXPECT_EQ(Control(p), control);
  EXPECT_EQ(portable::Control(p), control);
  EXPECT_EQ(Digit(p), digit);
  EXPECT_EQ(portable::Digit(p), digit);
  EXPECT_EQ(Unusual(p, a, b), unusual);
  EXPECT_EQ(portable::Unusual(p, a, b), unusual);
  EXPECT_EQ(Equal(p, a), equal);
  EXPECT_EQ(portable::Equal(p, a), equal);
}

TEST(CliByteMasks, EveryByteInEveryPosition) {
  for (int value = 0; value < 256; ++value) {
    for (size_t at = 0; at < 16; ++at) {
      // Among letters, and among bytes of the opposite sign.
      for (uint8_t filler : {uint8_t{'a'}, uint8_t{0xC3}}) {
        TChunk chunk;
        chunk.fill(filler);
        chunk[at] = static_cast<uint8_t>(value);
        ExpectClasses(chunk, '"', ',');
        ExpectClasses(chunk, static_cast<uint8_t>(value), '\\');
      }
    }
  }
}

TEST(CliByteMasks, RandomChunks) {
  std::mt19937 rng(3);
  for (int round = 0; round < 20000; ++round) {
    TChunk chunk;
    for (uint8_t& c : chunk) c = static_cast<uint8_t>(rng());
    ExpectClasses(chunk, static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
  }
}

}  // namespace
}  // namespace norvale::masks
