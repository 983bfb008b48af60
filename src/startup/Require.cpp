#include "startup/Require.h"

#include <cstdio>
#include <cstdlib>

namespace morvia {

void require(bool ok, const char* what, const char* why) {
    if (ok) return;
    std::fprintf(stderr, "%s: %s\n", what, why);
    std::fflush(stderr);
    std::abort();
}

}  // namespace morvia
