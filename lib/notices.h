// What a run says on standard error at its end, its status unchanged:
// per group (a plain run is one group) and record, the empty fields taken
// as 0 and the records no field reached; with a header line, the lines
// that ended before a column.
#ifndef NUMTALLY_LIB_NOTICES_H
#define NUMTALLY_LIB_NOTICES_H

#include <string>
#include <string_view>

#include "gaps.h"
#include "pass.h"
#include "run-options.h"
#include "selection.h"
#include "tallyf-list.h"

// What the run says at its end about one group's records (a plain run:
// the one group), appended to out, each line after prefix (a group's key
// fields, a TAB after each): why a geometric or harmonic mean is nan
// (positive, from tally_positive_notice, or null), then per record the empty fields taken as 0 (per column) or that no field
// reached it.
void tally_group_notices(const tallyf_t *records, int count,
                         const tally_run_options_t &options,
                         const tally_selection_t &sel,
                         const tally_pass_stats_t &stats,
                         const tally_gap_counts_t &gaps,
                         const char *positive, std::string_view prefix,
                         std::string *out);

// With a header line: per column, the data lines that ended before it and
// the first of them; appended to out.
void tally_short_notices(const tallyf_list_t *list,
                         const tally_run_options_t &options,
                         const tally_selection_t &sel,
                         const tally_pass_stats_t &stats, std::string *out);

#endif
