// Columns chosen by name: resolved once, against the header line.
#ifndef NUMTALLY_LIB_HEADER_H
#define NUMTALLY_LIB_HEADER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tally-error.h"
#include "selection.h"

// Per record of a list: the name its column was chosen by; empty when it
// was chosen by number.
struct tally_col_names_t {
    std::string name[TALLY_WANTS_MAX];
    std::string name2[TALLY_WANTS_MAX]; // the second column of a pair
    // How the report names a pair's columns when one was chosen by name
    // ("wt,mpg", "wt,2"); empty for the others.
    std::string pair_label[TALLY_WANTS_MAX];
};

// The column (from 1) that holds the name want in header.  False, with a
// one-line message and status 65, when header lacks it or holds it twice.
bool tally_resolve_name(const std::string &want,
                        const std::vector<std::string> &header, uint32_t *col,
                        tally_error_t *err);

// How messages name column col: by the name a record chose it by, else by
// its number.
std::string tally_col_text(const tally_wants_t &wants,
                           const tally_col_names_t &names, uint64_t col);

#endif
