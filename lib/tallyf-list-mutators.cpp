// Setters for the fields of the function list.
#include "tallyf-list-mutators.h"

int tallyf_list_set_count(tallyf_list_t *list, int32_t count)
{
    list->count = count;
    return TALLYF_DATA_OK;
}

int tallyf_list_set_functions_ae(tallyf_list_t *list, uint64_t i, tallyf_t tf)
{
    list->functions[i] = tf;
    return TALLYF_DATA_OK;
}

int tallyf_list_set_functions_cpy(tallyf_list_t *list, const tallyf_t *src,
                                  uint64_t n)
{
    if (src == nullptr)
        return TALLYF_DATA_INVALID;
    for (uint64_t i = 0; i < n; ++i)
        list->functions[i] = src[i];
    return TALLYF_DATA_OK;
}
