#include "CommandLineArguments.h"
#include "LocalCommandLine.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "WinTypes.h"

namespace {

constexpr char kUnit[] = "CommandLineArguments";

// "-name" is an option; "-" alone and "-<digit>..." are values, so negative
// numbers and application ids like "-1:5" can follow an option.
bool IsOption(const char* pszToken) {
  return pszToken[0] == '-' && pszToken[1] != '\0' && !(pszToken[1] >= '0' && pszToken[1] <= '9');
}

struct SipKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

// Drawn once per process from the kernel's random source. Should that fail,
// the clock and the randomised address of the key stand in: weaker, but
// still not known before the process starts.
SipKey MakeKey() {
  SipKey key{};
  auto* pBytes = reinterpret_cast<unsigned char*>(&key);
  std::size_t nFilled = 0;
  while (nFilled < sizeof key) {
    const ssize_t nRead = getrandom(pBytes + nFilled, sizeof key - nFilled, 0);
    if (nRead > 0) {
      nFilled += static_cast<std::size_t>(nRead);
    } else if (nRead == 0 || errno != EINTR) {
      key.k0 ^=
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      key.k1 ^= reinterpret_cast<std::uintptr_t>(&key) ^ static_cast<std::uint64_t>(getpid());
      break;
    }
  }
  return key;
}

const SipKey& ProcessKey() {
  static const SipKey key = MakeKey();
  return key;
}

std::uint64_t Rotl(std::uint64_t x, int nBits) { return (x << nBits) | (x >> (64 - nBits)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
  }

  void Absorb(std::uint64_t nWord) {
    v3 ^= nWord;
    Round();
    v0 ^= nWord;
  }
};

// SipHash-1-3 (one compression round, three finalisation rounds), the keyed
// hash that guards the standard hash maps of several languages against
// flooding. Words are read little-endian whatever the processor.
std::uint64_t HashName(const char* pszName, std::size_t nLength) {
  const SipKey& key = ProcessKey();
  SipState s{0x736f6d6570736575ULL ^ key.k0, 0x646f72616e646f6dULL ^ key.k1,
             0x6c7967656e657261ULL ^ key.k0, 0x7465646279746573ULL ^ key.k1};
  const auto* p = reinterpret_cast<const unsigned char*>(pszName);
  const std::size_t nWhole = nLength & ~std::size_t{7};
  for (std::size_t i = 0; i < nWhole; i += 8) {
    std::uint64_t nWord = 0;
    for (int b = 7; b >= 0; --b)
      nWord = (nWord << 8) | p[i + static_cast<std::size_t>(b)];
    s.Absorb(nWord);
  }
  std::uint64_t nLast = static_cast<std::uint64_t>(nLength) << 56;
  for (std::size_t i = nWhole; i < nLength; ++i)
    nLast |= static_cast<std::uint64_t>(p[i]) << (8 * (i - nWhole));
  s.Absorb(nLast);
  s.v2 ^= 0xff;
  s.Round();
  s.Round();
  s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

// What a command line keeps, built in place in the object's reserve.
class OptionIndex {
 public:
  // Sizes the index for a command line of `argc` items.
  void Reserve(int argc) {
    std::size_t nSlots = 8;
    while (nSlots < 2 * static_cast<std::size_t>(argc))
      nSlots *= 2;
    m_slots.assign(nSlots, 0);
  }

  // The option named `pszName`, or null.
  const std::pair<std::string, std::string>* Find(const char* pszName) const {
    if (m_slots.empty()) return nullptr;
    const std::uint32_t nEntry = m_slots[Probe(pszName)];
    return nEntry == 0 ? nullptr : &m_options[nEntry - 1];
  }

  // A repeated option keeps its first place and takes the new value.
  void Set(const char* pszName, std::string value) {
    std::uint32_t& nEntry = m_slots[Probe(pszName)];
    if (nEntry != 0) {
      m_options[nEntry - 1].second = std::move(value);
      return;
    }
    m_options.emplace_back(pszName, std::move(value));
    nEntry = static_cast<std::uint32_t>(m_options.size());
  }

 private:
  // The slot of m_slots that holds `pszName`, or the free slot where it
  // belongs.
  std::size_t Probe(const char* pszName) const {
    const std::size_t nLength = std::strlen(pszName);
    const std::size_t nMask = m_slots.size() - 1;
    std::size_t n = static_cast<std::size_t>(HashName(pszName, nLength)) & nMask;
    for (; m_slots[n] != 0; n = (n + 1) & nMask) {
      const std::string& name = m_options[m_slots[n] - 1].first;
      if (name.size() == nLength && std::memcmp(name.data(), pszName, nLength) == 0) break;
    }
    return n;
  }

  // Name and value of each option, in the order of first appearance.
  std::vector<std::pair<std::string, std::string>> m_options;
  // Open-addressed index into m_options (entry + 1; 0 is free), a power of
  // two at least twice the option count, hashed with a key drawn at random
  // for each process: no command line computed beforehand makes names
  // collide, so a lookup costs the same however long the command line is
  // and parsing stays linear.
  std::vector<std::uint32_t> m_slots;
};

static_assert(sizeof(OptionIndex) <= CCommandLineArguments::kReservedBytes,
              "the index fits the reserve");
static_assert(alignof(OptionIndex) <= 8, "the reserve is 8-byte aligned");

OptionIndex& IndexIn(unsigned char* pReserved) {
  return *std::launder(reinterpret_cast<OptionIndex*>(pReserved));
}

}  // namespace

CCommandLineArguments::CCommandLineArguments() : m_reserved() { new (m_reserved) OptionIndex(); }

CCommandLineArguments::~CCommandLineArguments() { IndexIn(m_reserved).~OptionIndex(); }

CLocalCommandLineArguments::CLocalCommandLineArguments(int argc, const char* const* argv) {
  if (argv == nullptr || argc < 2) return;
  OptionIndex& index = IndexIn(m_reserved);
  index.Reserve(argc);
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (!IsOption(argv[i])) continue;  // a value with no option before it
    const char* pszName = argv[i] + 1;
    const bool bHasValue = i + 1 < argc && argv[i + 1] != nullptr && !IsOption(argv[i + 1]);
    index.Set(pszName, bHasValue ? argv[++i] : "");
  }
}

CQiError CCommandLineArguments::GetOption(const char* pszName) {
  if (pszName != nullptr && IndexIn(m_reserved).Find(pszName) != nullptr)
    return CQiError::Success();
  std::string ignored;
  return GetOption(pszName, ignored);  // the same error as a value lookup
}

CQiError CCommandLineArguments::GetOption(const char* pszName, std::string& value) {
  if (pszName == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
                                   "Option name not given");
  }
  const auto* found = IndexIn(m_reserved).Find(pszName);
  if (found == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_NOT_FOUND,
                                   "Option -%s is not on the command line", pszName);
  }
  value = found->second;
  return CQiError::Success();
}
