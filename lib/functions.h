// The statistics functions of the command line: one table of descriptors,
// the one place that says, for each function word, its code, its parameter,
// what its record keeps and feeds, and how it reports.  The command line,
// the usage list, the feeders and the report all read it, and its row
// points at the block that reports it; the completion and
// the fuzz dictionary are checked against it by the test suite.
#ifndef NUMTALLY_LIB_FUNCTIONS_H
#define NUMTALLY_LIB_FUNCTIONS_H

#include <cstddef>
#include <cstdint>

#include "feed-kind.h"
#include "tallyf.h"

// The parameter a function word takes before --row/--col.
enum class tally_param_t : uint8_t {
    none,
    divisions,      // quantile N: a count (strtoul, low 32 bits)
    expected_mean,  // sample-t-score M: a number (strtod)
    percentiles,    // percentile P[,P...]: percentages above 0, below 100
    two_columns,    // none, but a second "--col N" after the first
    count,          // top K: a count from 1 (strtoul, low 32 bits)
    optional_bins,  // histogram [B]: a count from 1, or nothing before
                    // --row/--col
};

// A record's block of the report (lib/blocks.h): it computes the record's
// results and prints them, labelled, through the one printer.
struct tally_block_args_t;
using tally_block_t = bool (*)(tallyf_t *tf, const tally_block_args_t &a);

// How a block fits a record layout (--format): results only, or also a
// listing (a table of rows) or a drawing, which need one row per result.
enum class tally_shape_t : uint8_t { results, listing, drawing };

struct tally_function_t {
    const char *word;       // on the command line
    tallyf_code_t code;     // the word's own code
    tallyf_code_t stored;   // the code its record holds (median: quantile)
    uint32_t partitions;    // divisions it always has (median 2), else 0
    tally_param_t param;
    tally_feed_t feed;
    tally_block_t block;    // its block of the report; null: prints nothing
    tally_shape_t shape;
    const char *usage;      // its line in the usage list, or null
    const char *help;       // its line in the help's further functions
                            // (null: the word alone), when not in the
                            // usage list
    const char *refusal;    // why it is refused on the command line, or null
};

// Every function word, in the order of the usage list (words not listed
// there last).
extern const tally_function_t tally_functions[];
extern const size_t tally_function_count;

// The descriptor of a word (whole word, case-sensitive), or null.
const tally_function_t *tally_function_by_word(const char *word);

// The descriptor of the function whose records hold code (a stored code:
// quantile for median and quartile), or null for a code no word stores.
const tally_function_t *tally_function_by_stored(tallyf_code_t code);

// Codes below this bound are looked up in a table per value
// (tallyf_process_val); any code above it is fed as tally_feed_t::sum.
inline constexpr uint32_t TALLY_CODES_MAX = 64;

// How a record of this code is fed: the kind of the function that stores
// it, tally_feed_t::sum for any other code.
tally_feed_t tally_feed_of(tallyf_code_t code);

#endif
