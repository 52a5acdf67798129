// Column names.
#include "header.h"

#include <sysexits.h>

bool tally_resolve_name(const std::string &want,
                        const std::vector<std::string> &header, uint32_t *col,
                        tally_error_t *err)
{
    uint32_t found = 0;
    for (size_t c = 0; c < header.size(); ++c) {
        if (header[c] != want)
            continue;
        if (found != 0)
            return tally_fail(err, EX_DATAERR,
                              "numtally: col " + want +
                                  ": the header line has it twice (cols " +
                                  std::to_string(found) + " and " +
                                  std::to_string(c + 1) + ")\n");
        found = static_cast<uint32_t>(c + 1);
    }
    if (found == 0) {
        // What the header line holds, cut short: often one field with
        // commas, where --csv was forgotten.
        std::string held;
        for (size_t c = 0; c < header.size(); ++c)
            held += (c != 0 ? " " : "") + header[c];
        if (held.size() > 80)
            held = held.substr(0, 80) + "...";
        return tally_fail(err, EX_DATAERR,
                          "numtally: col " + want +
                              ": no such column in the header line (it holds: " +
                              held + ")\n");
    }
    *col = found;
    return true;
}

std::string tally_col_text(const tally_wants_t &wants,
                           const tally_col_names_t &names, uint64_t col)
{
    for (int i = 0; i < wants.count; ++i) {
        if (!names.name[i].empty() && wants.at[i].col == col)
            return names.name[i];
        if (!names.name2[i].empty() && wants.at[i].col2 == col)
            return names.name2[i];
    }
    return std::to_string(col);
}
