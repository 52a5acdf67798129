// The keys of welch-t --split.
#include "split-keys.h"

#include <cinttypes>
#include <cstdio>

#include <sysexits.h>

#include "tally-error.h"

int tally_split_keys_t::add(const char *k, size_t len)
{
    if (count == kKept) {
        more = true;
        return 2;
    }
    keys[count].assign(k, len);
    ++count;
    return count - 1 < 2 ? count - 1 : 2;
}

bool tally_split_keys_t::check(const char *column, tally_error_t *err) const
{
    if (count == 2 && !more)
        return true;
    std::string m = std::string("numtally: welch-t --split ") + column +
                    ": two distinct keys are needed, found ";
    m += more ? "more than 5" : count == 0 ? "none" : std::to_string(count);
    for (int i = 0; i < count; ++i) {
        m += i == 0 ? ": '" : ", '";
        m += keys[i];
        m += '\'';
    }
    if (more)
        m += ", ...";
    return tally_fail(err, EX_DATAERR, m + "\n");
}

bool tally_missing_split_key(uint64_t row, uint32_t col, tally_error_t *err)
{
    char m[120];
    std::snprintf(m, sizeof m,
                  "Missing --split column: row %" PRIu64 ", col %u\n", row, col);
    return tally_fail(err, EX_DATAERR, m);
}
