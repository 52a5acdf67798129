// Anonymous temporary files, made lazily: a stream that costs no descriptor
// until it is first written to.
#ifndef NUMTALLY_LIB_TMP_FILE_H
#define NUMTALLY_LIB_TMP_FILE_H

#include <cstdint>
#include <cstdio>

// Opens an anonymous temporary file for reading and writing in $TMPDIR, or
// in /tmp when TMPDIR is unset or empty.  Null, with errno set, on failure.
FILE *tallyf_tmpfile(void);

// A read/write stream for a temporary file whose backing file (an anonymous
// file as tallyf_tmpfile makes) is made only when the stream is first
// written to, or by tallyf_tmpfile_back: until then it reads as an empty
// file and costs no descriptor.  A backing file that cannot be made fails
// the write, and the stream's error indicator is set.  Null only when the
// stream itself cannot be had.
FILE *tallyf_tmpfile_lazy(void);

// Makes sure the stream f has its backing file now.  Returns 0, or -1 with
// errno set when the file cannot be made.  Any other stream: 0.
int tallyf_tmpfile_back(FILE *f);

// Stores in *size how many bytes the file behind f holds (0 for a stream
// of tallyf_tmpfile_lazy without its backing file yet); flush f first.
// Returns 0, or -1 with errno set.
int tallyf_tmpfile_size(FILE *f, uint64_t *size);

#endif
