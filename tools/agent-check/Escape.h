// Text from an agent made safe to show on a terminal and in a report.
#pragma once

#include <string>
#include <string_view>

namespace AgentCheck {

// `text` with each byte of these as \xHH (lowercase hex): C0 controls, DEL,
// C1 controls, noncharacters (U+FFFE, U+FDD0 and their kin), the invisible
// marks that reorder text or break a line (U+061C, U+200E, U+200F, U+2028
// to U+202E, U+2066 to U+2069), and every byte that is not part of
// well-formed UTF-8. Everything else, the backslash included, stays as it
// is, so that escaping an escaped text changes nothing.
[[nodiscard]] std::string EscapeText(std::string_view text);

// `text` as one word of a bash command line that shows on a terminal as
// EscapeText shows it: bare when it holds only letters, digits and
// "_@%+=:,./-", in single quotes when every byte shows as it is, else in
// $'...' with each byte EscapeText escapes as \xHH.
[[nodiscard]] std::string ShellQuoted(std::string_view text);

}  // namespace AgentCheck
