// The run's input: standard input, or the files named on the command line
// read in order as one, each of them plain, gzip or zstd (told by its first
// bytes and decoded as it is read); and a progress line on a terminal.
#ifndef NUMTALLY_APP_INPUT_H
#define NUMTALLY_APP_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tally-error.h"
#include "xt-dsv.h"

struct tally_input_t;

// Makes the source of the pass reader's bytes on standard input: the files
// (none: standard input alone; "-": standard input among them).  With
// header, every file after the first starts with a header line that must be
// the first file's, and is not read as data.  A file that does not end its
// last line gets a line end before the next one.
tally_input_t *tally_input_open(const std::vector<const char *> &files,
                                bool header);

// The source to hand to xt_dsv_set_source.
const xt_dsv_source_t *tally_input_source(tally_input_t *in);

// When the input failed (a file that cannot be opened or read, a corrupt or
// truncated compressed stream, a header line that differs): true, with the
// message and status in *err.
bool tally_input_failed(const tally_input_t *in, tally_error_t *err);

// Whether the first file's bytes are plain (not gzip or zstd), told by its
// first bytes without taking them from the source; false when it cannot
// be opened or read (the source then fails as ever).
bool tally_input_plain(tally_input_t *in);

// The one file is read elsewhere (by threads), from its start: its rows are
// its lines, for tally_input_name_rows.
void tally_input_read_elsewhere(tally_input_t *in);

// Read elsewhere, bytes of the input are read by now: the progress line
// says so (on a terminal, as the input's own reads do).
void tally_input_progress(tally_input_t *in, uint64_t bytes);

// Clears the progress line, if one was drawn.
void tally_input_finish(tally_input_t *in);

// Where files were named: err's message with its "row N" told as the file
// and the line in it ("b.tsv line 3").
void tally_input_name_rows(const tally_input_t *in, tally_error_t *err);

#endif
