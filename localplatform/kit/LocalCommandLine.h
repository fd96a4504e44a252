// The local utility library's parser of an agent's command line. Only the
// local stand-in has it; an agent built against the product builds its
// command line as the product's utility library provides.
#pragma once

#include "CommandLineArguments.h"
#include "QiUtilsExport.h"

// Options as the job manager writes them: "-name value". A token "-name" is
// an option and the next token is its value unless that is itself an option;
// "-" followed by a digit is a value ("-a -1:5"). An option with no value is
// present with an empty one; a repeated option keeps its first place and its
// last value. Lookups cost the same however long the command line is, and no
// command line computed beforehand makes parsing slower than linear.
// Owned through CCommandLineArgumentsPtr, which deletes it as itself.
class QIUTILS_API CLocalCommandLineArguments final : public CCommandLineArguments {
 public:
  // As main receives them; argv[0] is the program and is skipped.
  CLocalCommandLineArguments(int argc, const char* const* argv);
};
