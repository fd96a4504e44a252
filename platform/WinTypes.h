// Fixed-width integer names used across the product's interfaces.
#pragma once

#include <cstdint>

// 32-bit on every target: the product's interfaces predate LP64, so ULONG is
// not the platform's `unsigned long`.
typedef std::uint32_t ULONG;
typedef long long LONGLONG;  // the type strtoll and "%lld" work with

// Windows error codes the library reports.
enum : ULONG {
  ERROR_INVALID_PARAMETER = 87,
  ERROR_NOT_FOUND = 1168,
  ERROR_FUNCTION_FAILED = 1627,
};
