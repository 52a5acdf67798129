// The parameter of percentile: one percentage or a comma-separated list,
// each above 0 and below 100, decimals allowed ("50,95,99.9").  Walked in
// place, so that each line is labelled with the text the user wrote.
#ifndef NUMTALLY_LIB_PERCENTILE_LIST_H
#define NUMTALLY_LIB_PERCENTILE_LIST_H

#include <cstddef>

struct tallyf_percentile_t {
    double fraction;     // the percentage / 100
    const char *label;   // the percentage as written (not NUL-terminated)
    size_t label_len;
};

// Reads the next item of the list at *cursor into *out and moves *cursor
// past it and its comma.  False at the end of the list (*cursor at its
// NUL), and false with *bad set to the offending item's start when an item
// is not a number above 0 and below 100 (or is empty).
bool tallyf_percentile_next(const char **cursor, tallyf_percentile_t *out,
                            const char **bad);

// True when every item of the list is valid and there is at least one;
// otherwise false with *bad at the first item that is not (the list itself
// when it is empty).
bool tallyf_percentiles_valid(const char *list, const char **bad);

// How many items a valid list holds.
size_t tallyf_percentile_count(const char *list);

#endif
