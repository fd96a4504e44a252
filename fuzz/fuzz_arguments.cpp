// Turns the input into a command line and reads every job option from it.
// Tokens are separated by NUL bytes and blanks.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommonArguments.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsInSlash(const std::string& text) {
  return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The accessors print a trace line per read.
  return std::freopen("/dev/null", "w", stdout) != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> tokens = {"agent"};
  std::string token;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\0' || data[i] == ' ') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(static_cast<char>(data[i]));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& t : tokens)
    argv.push_back(t.c_str());
  CCommandLineArgumentsPtr args(
      new CCommandLineArguments(static_cast<int>(argv.size()), argv.data()));

  std::string applicationId = "before";
  ULONG cell = 7, number = 7;
  if (CArguments::GetApplicationId(args, applicationId, cell, number).IsError()) {
    Check(applicationId == "before" && cell == 7 && number == 7);
  }
  LONGLONG jobId = 0;
  (void)CArguments::GetJobId(args, jobId);
  (void)CArguments::GetSnapBackupJobId(args, jobId);

  std::string text;
  if (!CArguments::GetClientName(args, text).IsError()) Check(!EndsInSlash(text));
  if (!CArguments::GetStorenodeName(args, text).IsError()) Check(!EndsInSlash(text));
  (void)CArguments::GetZentServeHostName(args, text);
  if (CArguments::GetInstance(args, text).IsError()) Check(text.empty());
  (void)CArguments::GetJobManagerToken(args, text);

  bool flag = false;
  Check(!CArguments::GetSyntheticFull(args, flag).IsError());
  Check(!CArguments::GetBlockLevelMetaInfo(args, flag).IsError());
  return 0;
}
