// The function list: an empty list of records.  Its entry points that read
// requests and run them are in tallyf-list-entry.cpp.
#include "tallyf-list.h"

void tallyf_list_init(tallyf_list_t *list)
{
    list->count = 0;
    for (tallyf_t &tf : list->functions)
        tallyf_init(&tf);
}
