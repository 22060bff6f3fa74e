#include "platform/pdx/Sha256.h"

#include <algorithm>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace orl::pdx {

namespace {

constexpr std::array<std::uint32_t, 64> RoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The 64 rounds of each block, one word at a time.
void portableBlocks(std::array<std::uint32_t, 8>& state, const std::uint8_t* data, std::size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t{data[4 * i]} << 24) | (std::uint32_t{data[4 * i + 1]} << 16) |
             (std::uint32_t{data[4 * i + 2]} << 8) | std::uint32_t{data[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
      const std::uint32_t choice = (e & f) ^ (~e & g);
      const std::uint32_t t1 = h + s1 + choice + RoundConstants[i] + w[i];
      const std::uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
      const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      const std::uint32_t t2 = s0 + majority;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> add{a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) state[i] += add[i];
  }
}

#if defined(__x86_64__)
// The same with the SHA extensions: four rounds per pair of instructions,
// and the message schedule four words at a time. The instructions keep the
// state as the words A B E F and C D G H.
__attribute__((target("sha,sse4.1"))) void processorBlocks(std::array<std::uint32_t, 8>& state,
                                                           const std::uint8_t* data, std::size_t blocks) {
  const auto load = [](const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); };
  const __m128i bigEndianWords = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i cdab = _mm_shuffle_epi32(load(&state[0]), 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(load(&state[4]), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    // The last four groups of four message words; group g is words[g % 4].
    __m128i words[4];
    for (int group = 0; group < 16; ++group) {
      __m128i& now = words[group % 4];
      if (group < 4) {
        now = _mm_shuffle_epi8(load(data + 16 * group), bigEndianWords);
      } else {
        const __m128i& oneBack = words[(group + 3) % 4];
        const __m128i& twoBack = words[(group + 2) % 4];
        __m128i next = _mm_sha256msg1_epu32(now, words[(group + 1) % 4]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(oneBack, twoBack, 4));
        now = _mm_sha256msg2_epu32(next, oneBack);
      }
      __m128i withConstants = _mm_add_epi32(now, load(&RoundConstants[4 * static_cast<std::size_t>(group)]));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, withConstants);
      withConstants = _mm_shuffle_epi32(withConstants, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, withConstants);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

}  // namespace

bool Sha256::processorInstructions() {
#if defined(__x86_64__)
  constexpr unsigned Sse41 = 1u << 19;  // leaf 1, ecx
  constexpr unsigned Sha = 1u << 29;    // leaf 7, ebx
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & Sse41) == 0) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & Sha) != 0;
#else
  return false;
#endif
}

Sha256::Sha256(Engine engine)
    : blocks_(portableBlocks),
      state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {
#if defined(__x86_64__)
  static const bool processorHasThem = processorInstructions();
  if (engine == Engine::Fastest && processorHasThem) blocks_ = processorBlocks;
#else
  (void)engine;
#endif
}

void Sha256::add(const std::uint8_t* data, std::size_t size) {
  length_ += size;
  if (pendingSize_ > 0) {
    const std::size_t take = std::min(size, 64 - pendingSize_);
    std::copy(data, data + take, pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_));
    pendingSize_ += take;
    data += take;
    size -= take;
    if (pendingSize_ < 64) return;
    blocks_(state_, pending_.data(), 1);
    pendingSize_ = 0;
  }
  const std::size_t whole = size / 64;
  if (whole > 0) blocks_(state_, data, whole);
  std::copy(data + whole * 64, data + size, pending_.begin());
  pendingSize_ = size - whole * 64;
}

std::string Sha256::hex() {
  const std::uint64_t bits = length_ * 8;
  const std::uint8_t one = 0x80;
  add(&one, 1);
  const std::uint8_t zero = 0;
  while (pendingSize_ != 56) add(&zero, 1);
  std::uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  add(lengthBytes, 8);
  static const char* const Digits = "0123456789abcdef";
  std::string text;
  for (const std::uint32_t word : state_)
    for (int shift = 28; shift >= 0; shift -= 4) text += Digits[(word >> shift) & 0xF];
  return text;
}

std::string sha256Of(const ByteSource& source) {
  Sha256 sum;
  std::vector<std::uint8_t> chunk(1 << 20);
  for (std::uint64_t at = 0; at < source.size(); at += chunk.size()) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), source.size() - at));
    source.read(at, std::span(chunk.data(), size));
    sum.add(chunk.data(), size);
  }
  return sum.hex();
}

}  // namespace orl::pdx
