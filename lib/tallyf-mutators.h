// Setters for every field of the function record.  Each writes the one field
// it names (or, for the _ae and _cpy forms, the array that field points to)
// and nothing else: no count, capacity or other field is kept in step.
//
// Every setter returns TALLYF_DATA_OK, or TALLYF_DATA_INVALID when it refuses
// a null pointer and leaves the record unchanged.  The record pointer itself
// is never tested.
#ifndef NUMTALLY_LIB_TALLYF_MUTATORS_H
#define NUMTALLY_LIB_TALLYF_MUTATORS_H

#include <cstdint>
#include <cstdio>

#include "tallyf.h"

// Results of the record and list setters.
inline constexpr int TALLYF_DATA_OK = 0;
inline constexpr int TALLYF_DATA_INVALID = -2;

// Value form, tallyf_set_<field>(tf, value): stores the value as given, with
// no range check.  Always TALLYF_DATA_OK.  tallyf_set_row and tallyf_set_col
// replace the whole storage they share with rows/cols, so no part of a stored
// pointer survives the number.
int tallyf_set_code(tallyf_t *tf, tallyf_code_t code);
int tallyf_set_row(tallyf_t *tf, uint32_t row);
int tallyf_set_col(tallyf_t *tf, uint32_t col);
int tallyf_set_sum(tallyf_t *tf, double sum);
int tallyf_set_num_count(tallyf_t *tf, uint64_t num_count);
int tallyf_set_array_size(tallyf_t *tf, uint64_t array_size);
int tallyf_set_partitions(tallyf_t *tf, uint32_t partitions);
int tallyf_set_sum_x(tallyf_t *tf, double sum_x);
int tallyf_set_sum_x_2(tallyf_t *tf, double sum_x_2);
int tallyf_set_expected_mean(tallyf_t *tf, double expected_mean);
int tallyf_set_sum_y(tallyf_t *tf, double sum_y);
int tallyf_set_sum_y_2(tallyf_t *tf, double sum_y_2);
int tallyf_set_sum_x_y(tallyf_t *tf, double sum_x_y);
int tallyf_set_shift(tallyf_t *tf, double shift);
int tallyf_set_shift_count(tallyf_t *tf, uint64_t shift_count);
int tallyf_set_sum_d(tallyf_t *tf, double sum_d);
int tallyf_set_sum_d_lo(tallyf_t *tf, double sum_d_lo);
int tallyf_set_sum_d_2(tallyf_t *tf, double sum_d_2);
int tallyf_set_sum_d_2_lo(tallyf_t *tf, double sum_d_2_lo);
int tallyf_set_low(tallyf_t *tf, double low);
int tallyf_set_high(tallyf_t *tf, double high);
int tallyf_set_scaled_lo(tallyf_t *tf, double scaled_lo);

// Pointer form, tallyf_set_<field>(tf, p): stores p itself (nothing is copied,
// allocated or freed); TALLYF_DATA_INVALID for null, the field unchanged.
// tallyf_set_rows/tallyf_set_cols store into the storage of row/col, which
// then no longer holds a row or column number.
int tallyf_set_rows(tallyf_t *tf, uint32_t *rows);
int tallyf_set_cols(tallyf_t *tf, uint32_t *cols);
int tallyf_set_nums(tallyf_t *tf, double *nums);
int tallyf_set_row_sums(tallyf_t *tf, double *row_sums);
int tallyf_set_col_sums(tallyf_t *tf, double *col_sums);
int tallyf_set_tmp_file(tallyf_t *tf, FILE *tmp_file);

// Element form, tallyf_set_<field>_ae(tf, i, v): stores v at index i of the
// array the field points to.  Always TALLYF_DATA_OK; the caller guarantees
// that the field points to an array with more than i elements.
int tallyf_set_rows_ae(tallyf_t *tf, uint64_t i, uint32_t v);
int tallyf_set_cols_ae(tallyf_t *tf, uint64_t i, uint32_t v);
int tallyf_set_nums_ae(tallyf_t *tf, uint64_t i, double v);
int tallyf_set_row_sums_ae(tallyf_t *tf, uint64_t i, double v);
int tallyf_set_col_sums_ae(tallyf_t *tf, uint64_t i, double v);

// Copy form, tallyf_set_<field>_cpy(tf, src, n): copies src[0..n-1] to
// indexes 0..n-1 of the array the field points to, in ascending order.  A
// null src is refused (TALLYF_DATA_INVALID) whatever n is; n = 0 copies
// nothing and does not touch the field.  The caller guarantees room for n.
int tallyf_set_rows_cpy(tallyf_t *tf, const uint32_t *src, uint64_t n);
int tallyf_set_cols_cpy(tallyf_t *tf, const uint32_t *src, uint64_t n);
int tallyf_set_nums_cpy(tallyf_t *tf, const double *src, uint64_t n);
int tallyf_set_row_sums_cpy(tallyf_t *tf, const double *src, uint64_t n);
int tallyf_set_col_sums_cpy(tallyf_t *tf, const double *src, uint64_t n);

// Element and copy forms over an array of stream objects that tmp_file points
// to, as above.  A copied FILE object is not a usable stream.
int tallyf_set_tmp_file_ae(tallyf_t *tf, uint64_t i, FILE v);
int tallyf_set_tmp_file_cpy(tallyf_t *tf, const FILE *src, uint64_t n);

#endif
