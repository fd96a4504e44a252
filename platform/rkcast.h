// Argument casts for printf-style calls, and the 64-bit conversion the
// product names _strtoi64.
#pragma once

#include <cstdlib>

namespace rkcast {
inline const char* s(const char* psz) { return psz ? psz : "(null)"; }
inline int d(int n) { return n; }
inline unsigned int u(unsigned int n) { return n; }
inline long ld(long n) { return n; }
inline unsigned long lu(unsigned long n) { return n; }
inline long long lld(long long n) { return n; }
inline unsigned long long llu(unsigned long long n) { return n; }
}  // namespace rkcast

inline long long _strtoi64(const char* psz, char** ppEnd, int nBase) {
  return std::strtoll(psz, ppEnd, nBase);
}
