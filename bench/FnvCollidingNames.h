// Option names that an outsider can compute offline to flood an index keyed
// by unkeyed 32-bit FNV-1a: every name's hash agrees with the hash of "j" in
// its low kFnvCollidingBits bits, so all of them, and "j", fall into one
// probe chain of any power-of-two table up to that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr int kFnvCollidingBits = 20;

namespace fnv_colliding_names_detail {

constexpr std::uint32_t kOffsetBasis = 2166136261u;
constexpr std::uint32_t kPrime = 16777619u;
constexpr std::uint32_t kMask = (1u << kFnvCollidingBits) - 1;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::uint32_t kRadix = sizeof kAlphabet - 1;

inline std::uint32_t Step(std::uint32_t nHash, char c) {
  return (nHash ^ static_cast<unsigned char>(c)) * kPrime;
}

// The multiplicative inverse of the prime modulo 2^32 (Newton's iteration).
constexpr std::uint32_t InversePrime() {
  std::uint32_t nInverse = kPrime;
  for (int i = 0; i < 5; ++i)
    nInverse *= 2 - kPrime * nInverse;
  return nInverse;
}

}  // namespace fnv_colliding_names_detail

// `count` distinct names of eight letters and digits, the same on every run.
// A meet in the middle: each three-character suffix is run backwards from
// the target hash to the state it needs, and five-character prefixes are run
// forwards until one reaches a state that some suffix needs.
inline std::vector<std::string> FnvCollidingNames(std::size_t count) {
  using namespace fnv_colliding_names_detail;
  constexpr std::uint32_t kInverse = InversePrime();
  static_assert(kPrime * kInverse == 1u, "inverse of the FNV prime");

  const std::uint32_t nTarget = Step(kOffsetBasis, 'j') & kMask;
  // suffixNeeding[state] + 1 is the suffix that leads from `state` to the
  // target; 0 when no suffix does.
  std::vector<std::uint32_t> suffixNeeding(kMask + 1, 0);
  for (std::uint32_t n = 0; n < kRadix * kRadix * kRadix; ++n) {
    const char suffix[] = {kAlphabet[n / (kRadix * kRadix)], kAlphabet[n / kRadix % kRadix],
                           kAlphabet[n % kRadix]};
    std::uint32_t nState = nTarget;
    for (int i = 2; i >= 0; --i)
      nState = (nState * kInverse) ^ static_cast<unsigned char>(suffix[i]);
    suffixNeeding[nState & kMask] = n + 1;
  }

  std::vector<std::string> names;
  names.reserve(count);
  for (std::uint32_t nPrefix = 0; names.size() < count; ++nPrefix) {
    // The first character is a letter: "-<digit>" would be read as a value.
    std::string name(1, kAlphabet[nPrefix % 52]);
    for (std::uint32_t n = nPrefix / 52, i = 0; i < 4; ++i, n /= kRadix)
      name += kAlphabet[n % kRadix];
    std::uint32_t nState = kOffsetBasis;
    for (char c : name)
      nState = Step(nState, c);
    const std::uint32_t nSuffix = suffixNeeding[nState & kMask];
    if (nSuffix == 0) continue;
    name += kAlphabet[(nSuffix - 1) / (kRadix * kRadix)];
    name += kAlphabet[(nSuffix - 1) / kRadix % kRadix];
    name += kAlphabet[(nSuffix - 1) % kRadix];
    names.push_back(std::move(name));
  }
  return names;
}
