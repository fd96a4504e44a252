// printf formatting into a std::string, shared inside the utility services.
#pragma once

#include <cstdarg>
#include <string>

namespace qiutils {

// Any length; a null format gives the empty string.
std::string FormatV(const char* pszFormat, va_list args);

}  // namespace qiutils
