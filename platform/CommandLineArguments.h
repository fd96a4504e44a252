// The agent's parsed command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
  CQiError GetOption(const char* pszName);
  // Stores the option's value; an absent option is ERROR_NOT_FOUND, naming
  // the option, and `value` is left as it was.
  CQiError GetOption(const char* pszName, std::string& value);

 private:
  // The option named `pszName`, or null.
  const std::pair<std::string, std::string>* Find(const char* pszName) const;
  void Set(const char* pszName, std::string value);
  // The slot of m_slots that holds `pszName`, or the free slot where it
  // belongs.
  std::size_t Probe(const char* pszName) const;

  // Name and value of each option, in the order of first appearance.
  std::vector<std::pair<std::string, std::string>> m_options;
  // Open-addressed index into m_options (entry + 1; 0 is free), a power of
  // two at least twice the option count, hashed with a key drawn at random
  // for each process: no command line computed beforehand makes names
  // collide, so a lookup costs the same however long the command line is
  // and parsing stays linear.
  std::vector<std::uint32_t> m_slots;
};

typedef boost::shared_ptr<CCommandLineArguments> CCommandLineArgumentsPtr;
