// Visibility of libUMXClient's interface: the library is built with hidden
// visibility, and only what carries UMX_API is exported.
#pragma once

#define UMX_API __attribute__((visibility("default")))
