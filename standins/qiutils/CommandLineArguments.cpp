#include "CommandLineArguments.h"

#include <cstring>

#include "WinTypes.h"

namespace {

constexpr char kUnit[] = "CommandLineArguments";

// "-name" is an option; "-" alone and "-<digit>..." are values, so negative
// numbers and application ids like "-1:5" can follow an option.
bool IsOption(const char* pszToken) {
  return pszToken[0] == '-' && pszToken[1] != '\0' && !(pszToken[1] >= '0' && pszToken[1] <= '9');
}

// FNV-1a over the name; `nLength` receives its length.
std::uint32_t HashName(const char* pszName, std::size_t& nLength) {
  std::uint32_t nHash = 2166136261u;
  const char* p = pszName;
  for (; *p != '\0'; ++p)
    nHash = (nHash ^ static_cast<unsigned char>(*p)) * 16777619u;
  nLength = static_cast<std::size_t>(p - pszName);
  return nHash;
}

}  // namespace

CCommandLineArguments::CCommandLineArguments(int argc, const char* const* argv) {
  if (argv == nullptr || argc < 2) return;
  std::size_t nSlots = 8;
  while (nSlots < 2 * static_cast<std::size_t>(argc))
    nSlots *= 2;
  m_slots.assign(nSlots, 0);
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (!IsOption(argv[i])) continue;  // a value with no option before it
    const char* pszName = argv[i] + 1;
    const bool bHasValue = i + 1 < argc && argv[i + 1] != nullptr && !IsOption(argv[i + 1]);
    Set(pszName, bHasValue ? argv[++i] : "");
  }
}

const std::pair<std::string, std::string>* CCommandLineArguments::Find(const char* pszName) const {
  if (m_slots.empty()) return nullptr;
  std::size_t nLength = 0;
  const std::size_t nMask = m_slots.size() - 1;
  for (std::size_t n = HashName(pszName, nLength) & nMask;; n = (n + 1) & nMask) {
    if (m_slots[n] == 0) return nullptr;
    const auto& option = m_options[m_slots[n] - 1];
    if (option.first.size() == nLength && std::memcmp(option.first.data(), pszName, nLength) == 0) {
      return &option;
    }
  }
}

// A repeated option keeps its first place and takes the new value.
void CCommandLineArguments::Set(const char* pszName, std::string value) {
  std::size_t nLength = 0;
  const std::size_t nMask = m_slots.size() - 1;
  std::size_t n = HashName(pszName, nLength) & nMask;
  for (; m_slots[n] != 0; n = (n + 1) & nMask) {
    auto& option = m_options[m_slots[n] - 1];
    if (option.first == pszName) {
      option.second = std::move(value);
      return;
    }
  }
  m_options.emplace_back(pszName, std::move(value));
  m_slots[n] = static_cast<std::uint32_t>(m_options.size());
}

CQiError CCommandLineArguments::GetOption(const char* pszName) {
  if (pszName != nullptr && Find(pszName) != nullptr) return CQiError::Success();
  std::string ignored;
  return GetOption(pszName, ignored);  // the same error as a value lookup
}

CQiError CCommandLineArguments::GetOption(const char* pszName, std::string& value) {
  if (pszName == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
                                   "Option name not given");
  }
  const auto* found = Find(pszName);
  if (found == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_NOT_FOUND,
                                   "Option -%s is not on the command line", pszName);
  }
  value = found->second;
  return CQiError::Success();
}
