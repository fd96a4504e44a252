#include "CommandLineArguments.h"

#include "WinTypes.h"

namespace {

constexpr char kUnit[] = "CommandLineArguments";

// "-name" is an option; "-" alone and "-<digit>..." are values, so negative
// numbers and application ids like "-1:5" can follow an option.
bool IsOption(const char* pszToken) {
  return pszToken[0] == '-' && pszToken[1] != '\0' && !(pszToken[1] >= '0' && pszToken[1] <= '9');
}

}  // namespace

CCommandLineArguments::CCommandLineArguments(int argc, const char* const* argv) {
  if (argv == nullptr) return;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (!IsOption(argv[i])) continue;  // a value with no option before it
    std::string& value = m_options[argv[i] + 1];
    value.clear();
    if (i + 1 < argc && argv[i + 1] != nullptr && !IsOption(argv[i + 1])) value = argv[++i];
  }
}

CQiError CCommandLineArguments::GetOption(const char* pszName) const {
  std::string ignored;
  return GetOption(pszName, ignored);
}

CQiError CCommandLineArguments::GetOption(const char* pszName, std::string& value) const {
  if (pszName == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
                                   "Option name not given");
  }
  const auto found = m_options.find(pszName);
  if (found == m_options.end()) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_NOT_FOUND,
                                   "Option -%s is not on the command line", pszName);
  }
  value = found->second;
  return CQiError::Success();
}
