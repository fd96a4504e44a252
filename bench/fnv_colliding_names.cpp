// Prints option names that collide with "j" under unkeyed FNV-1a, one per
// line: umx-fnv-colliding-names [count], 40000 by default. For trying the
// command line outside the benchmarks, for example through a real execve:
//   umx-fnv-colliding-names | sed 's/^/-/; s/$/ x/' | xargs agent -j 1

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FnvCollidingNames.h"

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 40000;
  if (count < 0 || count > 10000000) {
    std::fprintf(stderr, "usage: %s [count up to 10000000]\n", argv[0]);
    return 1;
  }
  for (const std::string& name : FnvCollidingNames(static_cast<std::size_t>(count)))
    std::printf("%s\n", name.c_str());
  return 0;
}
