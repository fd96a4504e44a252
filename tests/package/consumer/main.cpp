// An agent built against the installed package and the platform contract
// alone, so that it links and loads against any platform that meets the
// contract. It also checks that a log sink written against the installed
// headers has the product's virtual table: WriteLog in slot 0, GetLogLevel
// in slot 1.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"

static_assert(!std::is_destructible<CLogWriterInterface>::value,
              "a sink is never deleted through the interface");
static_assert(std::is_polymorphic<CLogWriterInterface>::value, "the interface is virtual");

namespace {

// The virtual slot a pointer to a virtual member function names: the
// Itanium C++ ABI stores 1 + the slot's byte offset in its first word.
template <typename MemberPointer>
std::ptrdiff_t SlotOf(MemberPointer pointer) {
  std::ptrdiff_t raw = 0;
  std::memcpy(&raw, &pointer, sizeof raw);
  return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

}  // namespace

int main() {
  if (SlotOf(&CLogWriterInterface::WriteLog) != 0 ||
      SlotOf(&CLogWriterInterface::GetLogLevel) != 1) {
    std::fprintf(stderr, "CLogWriterInterface: WriteLog in slot %td, GetLogLevel in slot %td\n",
                 SlotOf(&CLogWriterInterface::WriteLog), SlotOf(&CLogWriterInterface::GetLogLevel));
    return 1;
  }
  BScanModeReason reason = 0x102u;  // the value constructors are implicit
  if (reason.Value() != 0x102u) return 1;

  if (InitializeUMXClientLibrary() != 0) return 1;
  std::printf("status=%s\n", EJobStatus::AsString(EJobStatus::JMSUCCESS).c_str());
  return 0;
}
