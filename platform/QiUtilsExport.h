// Visibility of the utility services library's interface. Declarations keep
// default visibility on both sides, so that a client built with hidden
// visibility still binds to the library's typeinfo and vtables.
#pragma once

#define QIUTILS_API __attribute__((visibility("default")))
