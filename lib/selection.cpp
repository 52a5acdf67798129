// Grouping the records by the rows and columns they want.
#include "selection.h"

#include <initializer_list>

#include "functions.h"

namespace {

// Sorts idx[0..n) by number_of, keeping the given order among equals: an
// insertion sort, at most 64 entries and no allocation.
template <class NumberOf>
void sort_by(int *idx, int n, NumberOf number_of)
{
    for (int i = 1; i < n; ++i) {
        const int r = idx[i];
        const uint64_t key = number_of(r);
        int j = i;
        for (; j > 0 && number_of(idx[j - 1]) > key; --j)
            idx[j] = idx[j - 1];
        idx[j] = r;
    }
}

} // namespace

void tally_select(const tallyf_list_t *list, const uint32_t *keys, int nkeys,
                  tally_selection_t *sel)
{
    const tallyf_t *f = list->functions;
    // Rows.
    int n = 0;
    for (int i = 0; i < list->count; ++i)
        if (f[i].row != 0)
            sel->row_records[n++] = i;
    auto row_of = [f](int r) { return uint64_t{f[r].row}; };
    sort_by(sel->row_records, n, row_of);
    int g = 0;
    for (int i = 0; i < n;) {
        const uint64_t number = row_of(sel->row_records[i]);
        int j = i;
        while (j < n && row_of(sel->row_records[j]) == number)
            ++j;
        sel->rows[g++] = {number, sel->row_records + i, sel->row_records + j,
                          nullptr, nullptr};
        i = j;
    }
    sel->rows[g] = {UINT64_MAX, sel->row_records + n, sel->row_records + n,
                    nullptr, nullptr};

    // Columns: the records and the key slots of each, merged by number.
    n = 0;
    int p = 0;
    for (int i = 0; i < list->count; ++i) {
        if (tally_feeds_pairs(tally_feed_of(f[i].code))) {
            for (uint32_t c : {f[i].col, f[i].col2})
                if (c != 0)
                    sel->pair_cols[p++] = c;
        } else if (f[i].col != 0) {
            sel->col_records[n++] = i;
        }
    }
    sel->npair_cols = p;
    uint32_t *pc = sel->pair_cols;
    for (int a = 1; a < p; ++a) // ascending: an insertion sort of at most 128
        for (int b = a; b > 0 && pc[b - 1] > pc[b]; --b) {
            const uint32_t t = pc[b];
            pc[b] = pc[b - 1];
            pc[b - 1] = t;
        }
    auto col_of = [f](int r) { return uint64_t{f[r].col}; };
    sort_by(sel->col_records, n, col_of);
    int k = 0;
    for (int s = 0; s < nkeys; ++s)
        if (keys[s] != 0)
            sel->key_slots[k++] = s;
    auto key_col = [keys](int s) { return uint64_t{keys[s]}; };
    sort_by(sel->key_slots, k, key_col);
    g = 0;
    int i = 0, s = 0, q = 0;
    while (i < n || s < k || q < p) {
        const uint64_t a = i < n ? col_of(sel->col_records[i]) : UINT64_MAX;
        const uint64_t b = s < k ? key_col(sel->key_slots[s]) : UINT64_MAX;
        const uint64_t c = q < p ? uint64_t{pc[q]} : UINT64_MAX;
        const uint64_t number = a < b ? (a < c ? a : c) : (b < c ? b : c);
        int j = i, t = s;
        while (j < n && col_of(sel->col_records[j]) == number)
            ++j;
        while (t < k && key_col(sel->key_slots[t]) == number)
            ++t;
        const int q0 = q;
        while (q < p && pc[q] == number)
            ++q;
        sel->cols[g++] = {number, sel->col_records + i, sel->col_records + j,
                          sel->key_slots + s, sel->key_slots + t, q != q0};
        i = j;
        s = t;
    }
    sel->cols[g] = {UINT64_MAX, sel->col_records + n, sel->col_records + n,
                    sel->key_slots + k, sel->key_slots + k};
}
