// Setters for the fields of the function list, with the results and rules of
// the record setters (tallyf-mutators.h): each writes only what it names and
// keeps no count in step.
#ifndef NUMTALLY_LIB_TALLYF_LIST_MUTATORS_H
#define NUMTALLY_LIB_TALLYF_LIST_MUTATORS_H

#include <cstdint>

#include "tallyf-list.h"
#include "tallyf-mutators.h" // TALLYF_DATA_OK, TALLYF_DATA_INVALID

// Stores count as given, 64 and above or negative included.  Always
// TALLYF_DATA_OK.
int tallyf_list_set_count(tallyf_list_t *list, int32_t count);

// Copies tf whole into functions[i], i below TALLYF_LIST_MAX (not tested).
// The copy shares tf's value array and temporary file.  Always TALLYF_DATA_OK.
int tallyf_list_set_functions_ae(tallyf_list_t *list, uint64_t i, tallyf_t tf);

// Copies src[0..n-1] whole into functions[0..n-1], in ascending order, n at
// most TALLYF_LIST_MAX (not tested).  A null src is refused
// (TALLYF_DATA_INVALID) whatever n is; n = 0 copies nothing.
int tallyf_list_set_functions_cpy(tallyf_list_t *list, const tallyf_t *src,
                                  uint64_t n);

#endif
