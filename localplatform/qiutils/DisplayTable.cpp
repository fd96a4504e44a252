#include "DisplayTable.h"

#include <iterator>
#include <type_traits>

namespace {

// A table ends with the row without a narrow name. A row without a wide name
// shows its narrow name widened, so both widths see the same rows and texts.
template <typename Row>
bool IsEnd(const Row& row) {
  return row.pszName == nullptr;
}

// The row's own name in the width of CharT; null for a missing wide name.
template <typename CharT, typename Row>
const CharT* NameOf(const Row& row) {
  if constexpr (std::is_same_v<CharT, char>) {
    return row.pszName;
  } else {
    return row.pwszName;
  }
}

template <typename CharT, typename Row>
void AppendName(std::basic_string<CharT>& text, const Row& row) {
  if (const CharT* name = NameOf<CharT>(row)) {
    text.append(name);
    return;
  }
  if (row.pszName == nullptr) return;  // an end row names nothing
  for (const char* p = row.pszName; *p != '\0'; ++p) {
    text.push_back(static_cast<CharT>(static_cast<unsigned char>(*p)));
  }
}

// Appends the digits of `nValue` in `nBase` (10 or 16), without a prefix.
template <typename CharT>
void AppendNumber(std::basic_string<CharT>& text, unsigned int nValue, unsigned int nBase) {
  CharT digits[10];  // a 32-bit value has at most 10 decimal digits
  CharT* first = std::end(digits);
  do {
    *--first = static_cast<CharT>("0123456789abcdef"[nValue % nBase]);
    nValue /= nBase;
  } while (nValue != 0);
  text.append(first, std::end(digits));
}

template <typename CharT>
std::basic_string<CharT> RenderEnum(const _DISPLAY_ENUM_INFO_TABLE* pTable, unsigned int nValue) {
  for (const auto* row = pTable; row != nullptr && !IsEnd(*row); ++row) {
    if (row->nValue != nValue) continue;
    if (const CharT* name = NameOf<CharT>(*row)) return name;
    std::basic_string<CharT> text;
    AppendName(text, *row);
    return text;
  }
  std::basic_string<CharT> text;
  AppendNumber(text, nValue, 10);
  return text;
}

// A row names the pattern nValue within the bits nMask. A zero pattern names
// nothing, so no row matches 0.
bool Contains(const _DISPLAY_BITS_INFO_TABLE& row, unsigned int nValue) {
  return row.nValue != 0 && (nValue & row.nMask) == row.nValue;
}

// Whether another row contained in `nValue` names all of `row`'s bits and
// more, or the same bits earlier in the table: that row speaks for this one.
bool IsOutranked(const _DISPLAY_BITS_INFO_TABLE* pTable, const _DISPLAY_BITS_INFO_TABLE* row,
                 unsigned int nValue) {
  for (const auto* other = pTable; !IsEnd(*other); ++other) {
    if (other == row || !Contains(*other, nValue) || (other->nMask & row->nMask) != row->nMask) {
      continue;
    }
    if (other->nMask != row->nMask || other < row) return true;
  }
  return false;
}

template <typename CharT>
std::basic_string<CharT> RenderBits(const _DISPLAY_BITS_INFO_TABLE* pTable, unsigned int nValue) {
  // Only a row whose bits are all named by another contained row as well can
  // be outranked; the others skip the search.
  unsigned int nCovered = 0;
  unsigned int nCoveredTwice = 0;
  for (const auto* row = pTable; row != nullptr && !IsEnd(*row); ++row) {
    if (!Contains(*row, nValue)) continue;
    nCoveredTwice |= nCovered & row->nMask;
    nCovered |= row->nMask;
  }

  std::basic_string<CharT> text;
  for (const auto* row = pTable; row != nullptr && !IsEnd(*row); ++row) {
    if (!Contains(*row, nValue)) continue;
    if ((row->nMask & ~nCoveredTwice) == 0 && IsOutranked(pTable, row, nValue)) continue;
    if (!text.empty()) text.push_back(CharT('|'));
    AppendName(text, *row);
  }
  const unsigned int nRest = nValue & ~nCovered;
  if (nRest != 0) {
    if (!text.empty()) text.push_back(CharT('|'));
    text.push_back(CharT('0'));
    text.push_back(CharT('x'));
    AppendNumber(text, nRest, 16);
  }
  if (text.empty()) text.push_back(CharT('0'));  // only 0 names nothing
  return text;
}

}  // namespace

std::string CDisplayEnumBase::AsString(_DISPLAY_ENUM_INFO_TABLE* pTable, unsigned int nValue) {
  return RenderEnum<char>(pTable, nValue);
}

std::wstring CDisplayEnumBase::AsWstring(_DISPLAY_ENUM_INFO_TABLE* pTable, unsigned int nValue) {
  return RenderEnum<wchar_t>(pTable, nValue);
}

std::string CDisplayBitsBase::AsString(_DISPLAY_BITS_INFO_TABLE* pTable, unsigned int nValue) {
  return RenderBits<char>(pTable, nValue);
}

std::wstring CDisplayBitsBase::AsWstring(_DISPLAY_BITS_INFO_TABLE* pTable, unsigned int nValue) {
  return RenderBits<wchar_t>(pTable, nValue);
}
