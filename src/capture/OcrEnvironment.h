#pragma once

// The recogniser's OpenMP threads make it some three times slower on a busy
// two-core machine; OpenMP reads its limit once, before main runs, so a
// program that reads cards starts itself again with OMP_THREAD_LIMIT=1 in its
// environment when the variable is not set.

namespace kelvo::capture {

// Called first thing in main with main's argv: when OMP_THREAD_LIMIT is not
// set, sets it to 1 and replaces the process by a new run of the same
// program with the same arguments. Returns (and the program runs on as it
// is) when the variable is set or the new run cannot be started.
void restartWithOneRecogniserThread(char **argv);

} // namespace kelvo::capture
