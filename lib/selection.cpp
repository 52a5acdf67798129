// Grouping the records by the rows and columns they want.
#include "selection.h"

#include <initializer_list>


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

// The groups of records[0..n) (sorted by record_number), slots[0..k)
// (sorted by slot_number) and the paired columns pairs[0..p) (ascending),
// merged by number, ended by the sentinel.
template <class RecordNumber, class SlotNumber>
void make_groups(const int *records, int n, RecordNumber record_number,
                 const int *slots, int k, SlotNumber slot_number,
                 const uint32_t *pairs, int p, tally_group_t *groups)
{
    int g = 0, i = 0, s = 0, q = 0;
    while (i < n || s < k || q < p) {
        const uint64_t a = i < n ? record_number(records[i]) : UINT64_MAX;
        const uint64_t b = s < k ? slot_number(slots[s]) : UINT64_MAX;
        const uint64_t c = q < p ? uint64_t{pairs[q]} : UINT64_MAX;
        const uint64_t number = a < b ? (a < c ? a : c) : (b < c ? b : c);
        int j = i, t = s;
        while (j < n && record_number(records[j]) == number)
            ++j;
        while (t < k && slot_number(slots[t]) == number)
            ++t;
        const int q0 = q;
        while (q < p && pairs[q] == number)
            ++q;
        groups[g++] = {number, records + i, records + j, slots + s, slots + t,
                       q != q0};
        i = j;
        s = t;
    }
    groups[g] = {UINT64_MAX, records + n, records + n, slots + k, slots + k};
}

} // namespace

int tally_split_columns(const tally_wants_t &wants)
{
    int n = 0;
    for (int i = 0; i < wants.count; ++i)
        n += wants.at[i].split;
    return n;
}

void tally_select(const tally_wants_t &wants, const uint32_t *given,
                  int ngiven, tally_selection_t *sel)
{
    const tally_want_t *f = wants.at;
    // The given key columns, then those of the split records.
    uint32_t *keys = sel->key_cols;
    int nkeys = 0;
    for (; nkeys < ngiven && nkeys < TALLY_KEYS_MAX; ++nkeys)
        keys[nkeys] = given[nkeys];
    // (A slot per record, not per column: the count stays the same when
    // the header line turns names into columns.)
    for (int i = 0; i < wants.count; ++i) {
        sel->split_slot[i] = -1;
        if (f[i].split && nkeys < TALLY_KEYS_MAX) {
            sel->split_slot[i] = nkeys;
            keys[nkeys++] = f[i].col2;
        }
    }
    sel->nkeys = nkeys;
    auto row_of = [f](int r) { return uint64_t{f[r].row}; };
    auto col_of = [f](int r) { return uint64_t{f[r].col}; };
    auto key_col = [keys](int s) { return uint64_t{keys[s]}; };
    int rows = 0, cols = 0, k = 0;
    int p = 0;
    for (int i = 0; i < wants.count; ++i) {
        if (f[i].row != 0)
            sel->row_records[rows++] = i;
        if (f[i].pairs) {
            // Both columns of a pair, fed at the line's end.
            for (uint32_t c : {f[i].col, f[i].split ? 0 : f[i].col2})
                if (c != 0)
                    sel->pair_cols[p++] = c;
        } else if (f[i].col != 0) {
            sel->col_records[cols++] = i;
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
    for (int s = 0; s < nkeys; ++s)
        if (keys[s] != 0)
            sel->key_slots[k++] = s;
    sort_by(sel->row_records, rows, row_of);
    sort_by(sel->col_records, cols, col_of);
    sort_by(sel->key_slots, k, key_col);
    make_groups(sel->row_records, rows, row_of, sel->key_slots, 0, key_col,
                nullptr, 0, sel->rows);
    // Columns: the records, the key slots and the paired columns of each,
    // merged by number.
    make_groups(sel->col_records, cols, col_of, sel->key_slots, k, key_col,
                sel->pair_cols, p, sel->cols);
}
