// Visibility of the job platform library's interface. Declarations keep
// default visibility on both sides, so that a client built with hidden
// visibility still binds to the library's typeinfo and vtables.
#pragma once

#define RKJOBCLIENT_API __attribute__((visibility("default")))
