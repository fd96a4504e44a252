// FXPrintableText: text from outside made safe to print, by the rule of the
// library's own trace lines (each control byte becomes \xHH). The rule is
// the library's; this header gives it to agents and to the stand-ins.
#pragma once

#include "PrintableTextRule.h"
