// The agent's parsed command line.
#pragma once

#include <cstddef>
#include <string>

#include <boost/shared_ptr.hpp>

#include "QiError.h"
#include "QiUtilsExport.h"

// Options as the job manager writes them ("-name value"); names are
// case-sensitive.
class QIUTILS_API CCommandLineArguments {
 public:
  ~CCommandLineArguments();

  CCommandLineArguments(const CCommandLineArguments&) = delete;
  CCommandLineArguments& operator=(const CCommandLineArguments&) = delete;

  // Success exactly when the option is present.
  CQiError GetOption(const char* pszName);
  // Stores the option's value; an absent option is an error, and `value` is
  // left as it was.
  CQiError GetOption(const char* pszName, std::string& value);

  // Left open by the contract: how the utility library builds the object
  // (the local stand-in's kit has a parser of its own) and what it keeps,
  // which lives in this reserve and is never read outside that library.
  static constexpr std::size_t kReservedBytes = 64;

 protected:
  CCommandLineArguments();

  alignas(8) unsigned char m_reserved[kReservedBytes];
};

typedef boost::shared_ptr<CCommandLineArguments> CCommandLineArgumentsPtr;
