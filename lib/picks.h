// Lists and ranges of rows and columns on the command line ("2-5,7",
// "units,price"): each item asks for the function once more.
#ifndef NUMTALLY_LIB_PICKS_H
#define NUMTALLY_LIB_PICKS_H

#include <cstddef>
#include <cstdint>

// One row or column asked for: a number, or a column's name (name non-null,
// name_len bytes, not NUL-terminated).
struct tally_pick_t {
    uint32_t number;
    const char *name;
    size_t name_len;
};

// Reads text as a comma-separated list of items: a word of digits is a
// number (at most 4294967295), two such words
// joined by '-' a rising range of them, any other word a name when
// names_allowed.  Stores at most room picks at out, in list order, ranges
// expanded, and their count in *count; with names_allowed, "=NAME" is the
// name NAME whatever it holds (a header name of digits alone); more than room makes *count
// room + 1.  False for an empty item, a falling range, a number too
// large, or a name where names are not allowed.
bool tally_parse_picks(const char *text, bool names_allowed,
                       tally_pick_t *out, size_t room, size_t *count);

#endif
