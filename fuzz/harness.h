// What the fuzz targets share: running program code, which hands every
// error back to its caller as a status, in a process that must go on to the
// next input.
//
// The targets are linked with -Wl,--wrap for fdopen, fopencookie, fclose,
// xt_malloc,
// xt_realloc, xt_grow_huge and xt_free: every way a value array is made,
// grown or given back.  While run_program() runs, every stream the program opens
// and every value array it allocates is recorded; run_program() closes and
// frees them all afterwards, so nothing leaks from one input into the next.
// A descriptor still open after that (one the program opened without a
// stream) is a finding.
#ifndef NUMTALLY_FUZZ_HARNESS_H
#define NUMTALLY_FUZZ_HARNESS_H

#include <functional>

// Runs body as the program would run, and returns the exit status body
// returned.  Ends the fuzzer with a finding
// (abort) when the status is not one the program may end with.
int run_program(const std::function<int()> &body);

// Points standard input at /dev/null and standard output at /dev/null, once.
void quiet_std_streams();

#endif
