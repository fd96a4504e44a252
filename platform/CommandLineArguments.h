// The agent's parsed command line.
#pragma once

#include <string>
#include <unordered_map>

#include <boost/shared_ptr.hpp>

#include "QiError.h"
#include "QiUtilsExport.h"

// Options as the job manager writes them: "-name value". A token "-name" is
// an option and the next token is its value unless that is itself an option;
// "-" followed by a digit is a value ("-a -1:5"). An option with no value is
// present with an empty one; a repeated option keeps its last value. Names
// are case-sensitive.
class QIUTILS_API CCommandLineArguments {
 public:
  // As main receives them; argv[0] is the program and is skipped.
  CCommandLineArguments(int argc, const char* const* argv);

  // Success exactly when the option is present.
  CQiError GetOption(const char* pszName) const;
  // Stores the option's value; an absent option is ERROR_NOT_FOUND, naming
  // the option, and `value` is left as it was.
  CQiError GetOption(const char* pszName, std::string& value) const;

 private:
  std::unordered_map<std::string, std::string> m_options;
};

typedef boost::shared_ptr<CCommandLineArguments> CCommandLineArgumentsPtr;
