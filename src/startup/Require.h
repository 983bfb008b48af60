// Invariants that hold in every build, not only in debug ones.
#pragma once

namespace morvia {

// Ends the process with "<what>: <why>" on standard error when `ok` is
// false. For thread rules and other invariants whose breach is a programming
// fault.
void require(bool ok, const char* what, const char* why);

}  // namespace morvia
