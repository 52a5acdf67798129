// Setters for every field of the function record.  The forms are mechanical:
// three templates hold the logic and two macros stamp out the named functions.
#include "tallyf-mutators.h"

namespace {

// Pointer form: refuse null, otherwise store the pointer itself.
template <typename T>
int store_pointer(T *&field, T *p)
{
    if (p == nullptr)
        return TALLYF_DATA_INVALID;
    field = p;
    return TALLYF_DATA_OK;
}

// Element form: one element, copied whole, at index i of the field's array.
template <typename T>
int store_element(T *array, uint64_t i, const T &v)
{
    array[i] = v;
    return TALLYF_DATA_OK;
}

// Copy form: the null test comes before n is looked at; ascending order.
template <typename T>
int copy_elements(T *array, const T *src, uint64_t n)
{
    if (src == nullptr)
        return TALLYF_DATA_INVALID;
    for (uint64_t i = 0; i < n; ++i)
        array[i] = src[i];
    return TALLYF_DATA_OK;
}

} // namespace

#define TALLYF_VALUE_SETTER(field, type)                                      \
    int tallyf_set_##field(tallyf_t *tf, type v)                              \
    {                                                                         \
        tf->field = v;                                                        \
        return TALLYF_DATA_OK;                                                \
    }

#define TALLYF_ARRAY_SETTERS(field, elem)                                     \
    int tallyf_set_##field(tallyf_t *tf, elem *p)                             \
    {                                                                         \
        return store_pointer(tf->field, p);                                   \
    }                                                                         \
    int tallyf_set_##field##_ae(tallyf_t *tf, uint64_t i, elem v)             \
    {                                                                         \
        return store_element(tf->field, i, v);                                \
    }                                                                         \
    int tallyf_set_##field##_cpy(tallyf_t *tf, const elem *src, uint64_t n)   \
    {                                                                         \
        return copy_elements(tf->field, src, n);                              \
    }

// row and col share their storage with the wider rows and cols pointers:
// clear the whole place first, as tallyf_init does, so that no half of an
// earlier pointer is left beside the number.
int tallyf_set_row(tallyf_t *tf, uint32_t row)
{
    tf->rows = nullptr;
    tf->row = row;
    return TALLYF_DATA_OK;
}

int tallyf_set_col(tallyf_t *tf, uint32_t col)
{
    tf->cols = nullptr;
    tf->col = col;
    return TALLYF_DATA_OK;
}

TALLYF_VALUE_SETTER(code, tallyf_code_t)
TALLYF_ARRAY_SETTERS(rows, uint32_t)
TALLYF_ARRAY_SETTERS(cols, uint32_t)
TALLYF_VALUE_SETTER(sum, double)
TALLYF_ARRAY_SETTERS(nums, double)
TALLYF_VALUE_SETTER(num_count, uint64_t)
TALLYF_VALUE_SETTER(array_size, uint64_t)
TALLYF_VALUE_SETTER(partitions, uint32_t)
TALLYF_VALUE_SETTER(sum_x, double)
TALLYF_VALUE_SETTER(sum_x_2, double)
TALLYF_ARRAY_SETTERS(row_sums, double)
TALLYF_ARRAY_SETTERS(col_sums, double)
TALLYF_VALUE_SETTER(expected_mean, double)
TALLYF_VALUE_SETTER(sum_y, double)
TALLYF_VALUE_SETTER(sum_y_2, double)
TALLYF_VALUE_SETTER(sum_x_y, double)
TALLYF_VALUE_SETTER(low, double)
TALLYF_VALUE_SETTER(high, double)
TALLYF_ARRAY_SETTERS(tmp_file, FILE)
TALLYF_VALUE_SETTER(shift, double)
TALLYF_VALUE_SETTER(shift_count, uint64_t)
TALLYF_VALUE_SETTER(sum_d, double)
TALLYF_VALUE_SETTER(sum_d_lo, double)
TALLYF_VALUE_SETTER(sum_d_2, double)
TALLYF_VALUE_SETTER(sum_d_2_lo, double)
TALLYF_VALUE_SETTER(scaled_lo, double)
