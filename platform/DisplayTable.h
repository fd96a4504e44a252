// Display tables and the renderers that turn a value into its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "QiUtilsExport.h"

// One row of an enumeration's display table. A table ends with the row whose
// name pointers are null; a zero value does not end it.
struct _DISPLAY_ENUM_INFO_TABLE {
  std::uint32_t nValue;
  std::uint32_t nReserved;
  const char* pszName;
  const wchar_t* pwszName;
  void* pReserved;
};

// One row of a bit set's display table; nMask is the set of bits the row
// names.
struct _DISPLAY_BITS_INFO_TABLE {
  std::uint32_t nValue;
  std::uint32_t nMask;
  const char* pszName;
  const wchar_t* pwszName;
  void* pReserved;
};

// The renderers read these records as laid out by the product.
static_assert(sizeof(void*) == 8, "display table records assume 64-bit pointers");
static_assert(sizeof(_DISPLAY_ENUM_INFO_TABLE) == 32, "record size");
static_assert(offsetof(_DISPLAY_ENUM_INFO_TABLE, nValue) == 0, "record layout");
static_assert(offsetof(_DISPLAY_ENUM_INFO_TABLE, nReserved) == 4, "record layout");
static_assert(offsetof(_DISPLAY_ENUM_INFO_TABLE, pszName) == 8, "record layout");
static_assert(offsetof(_DISPLAY_ENUM_INFO_TABLE, pwszName) == 16, "record layout");
static_assert(offsetof(_DISPLAY_ENUM_INFO_TABLE, pReserved) == 24, "record layout");
static_assert(sizeof(_DISPLAY_BITS_INFO_TABLE) == 32, "record size");
static_assert(offsetof(_DISPLAY_BITS_INFO_TABLE, nValue) == 0, "record layout");
static_assert(offsetof(_DISPLAY_BITS_INFO_TABLE, nMask) == 4, "record layout");
static_assert(offsetof(_DISPLAY_BITS_INFO_TABLE, pszName) == 8, "record layout");
static_assert(offsetof(_DISPLAY_BITS_INFO_TABLE, pwszName) == 16, "record layout");
static_assert(offsetof(_DISPLAY_BITS_INFO_TABLE, pReserved) == 24, "record layout");

class QIUTILS_API CDisplayEnumBase {
 public:
  // The name of the row holding `nValue`, or the value in decimal.
  static std::string AsString(_DISPLAY_ENUM_INFO_TABLE* pTable, unsigned int nValue);
  static std::wstring AsWstring(_DISPLAY_ENUM_INFO_TABLE* pTable, unsigned int nValue);
};

class QIUTILS_API CDisplayBitsBase {
 public:
  // The names of the rows contained in `nValue`, joined by "|" in table
  // order, a row covering several bits preferred over its single-bit rows;
  // bits no row covers follow as one hexadecimal number; 0 is "0".
  static std::string AsString(_DISPLAY_BITS_INFO_TABLE* pTable, unsigned int nValue);
  static std::wstring AsWstring(_DISPLAY_BITS_INFO_TABLE* pTable, unsigned int nValue);
};
