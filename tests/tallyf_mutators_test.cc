#include "tallyf-mutators.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const void *p, size_t n)
{
    const auto *b = static_cast<const unsigned char *>(p);
    return Bytes(b, b + n);
}

// A record whose every byte is a known pattern, so any stray write shows.
tallyf_t patterned()
{
    tallyf_t tf;
    std::memset(static_cast<void *>(&tf), 0x5a, sizeof tf);
    return tf;
}

// Bytes of the record outside [off, off + size).
Bytes outside(const tallyf_t &tf, size_t off, size_t size)
{
    Bytes all = bytes_of(&tf, sizeof tf);
    all.erase(all.begin() + off, all.begin() + off + size);
    return all;
}

// Where a field stands in the record (the record has a base, the engine's
// state, so offsetof does not apply).
const tallyf_t record_probe{};
#define FIELD_OFFSET(field)                                                   \
    static_cast<size_t>(reinterpret_cast<const char *>(&record_probe.field) - \
                        reinterpret_cast<const char *>(&record_probe))

uint32_t u32_array[4];
double d_array[4];
FILE *const some_stream = stdin;

struct StoreCase {
    const char *name;
    std::function<int(tallyf_t *)> set;
    size_t offset;
    Bytes expected; // the field's bytes after the call
};

// Calls setter(record, value) and expects the field to hold value's bytes.
#define STORE(setter, field, value)                                           \
    StoreCase{#setter,                                                        \
              [](tallyf_t *t) { return setter(t, value); },                   \
              FIELD_OFFSET(field),                                      \
              [] {                                                            \
                  decltype(tallyf_t::field) v = value;                        \
                  return bytes_of(&v, sizeof v);                              \
              }()}

} // namespace

// Every value setter and every pointer setter given a non-null pointer
// stores the value unchanged (no range check), returns 0 and leaves every
// other byte of the record as it was.
TEST(TallyfMutators, ValueAndPointerFormsStoreOnlyTheirField)
{
    const std::vector<StoreCase> cases = {
        STORE(tallyf_set_code, code, static_cast<tallyf_code_t>(99)),
        STORE(tallyf_set_rows, rows, u32_array),
        STORE(tallyf_set_cols, cols, u32_array + 1),
        STORE(tallyf_set_sum, sum, -2.5),
        STORE(tallyf_set_nums, nums, d_array),
        STORE(tallyf_set_num_count, num_count, UINT64_MAX),
        STORE(tallyf_set_array_size, array_size, uint64_t{1} << 40),
        STORE(tallyf_set_partitions, partitions, UINT32_MAX),
        STORE(tallyf_set_sum_x, sum_x, 1e308),
        STORE(tallyf_set_sum_x_2, sum_x_2, -0.0),
        STORE(tallyf_set_row_sums, row_sums, d_array + 1),
        STORE(tallyf_set_col_sums, col_sums, d_array + 2),
        STORE(tallyf_set_expected_mean, expected_mean, 10.25),
        STORE(tallyf_set_sum_y, sum_y, 3.0),
        STORE(tallyf_set_sum_y_2, sum_y_2, 4.0),
        STORE(tallyf_set_sum_x_y, sum_x_y, 5.0),
        STORE(tallyf_set_low, low, -6.0),
        STORE(tallyf_set_high, high, 7.0),
        STORE(tallyf_set_tmp_file, tmp_file, some_stream),
        STORE(tallyf_set_shift, shift, -7.5),
        STORE(tallyf_set_shift_count, shift_count, UINT64_MAX - 1),
        STORE(tallyf_set_sum_d, sum_d, 6.0),
        STORE(tallyf_set_sum_d_lo, sum_d_lo, 0x1p-60),
        STORE(tallyf_set_sum_d_2, sum_d_2, 8.0),
        STORE(tallyf_set_sum_d_2_lo, sum_d_2_lo, -0x1p-70),
        STORE(tallyf_set_scaled_lo, scaled_lo, 0x1p-80),
    };
    for (const StoreCase &c : cases) {
        SCOPED_TRACE(c.name);
        tallyf_t tf = patterned();
        const Bytes before = outside(tf, c.offset, c.expected.size());
        EXPECT_EQ(c.set(&tf), TALLYF_DATA_OK);
        EXPECT_EQ(bytes_of(reinterpret_cast<unsigned char *>(&tf) + c.offset,
                           c.expected.size()),
                  c.expected);
        EXPECT_EQ(outside(tf, c.offset, c.expected.size()), before);
    }
}

// row and col replace the whole storage they share with rows and cols: the
// number, and nothing left of a pointer stored before it.
TEST(TallyfMutators, RowAndColReplaceAStoredPointer)
{
    tallyf_t tf = patterned();
    const Bytes before = outside(tf, FIELD_OFFSET(rows), 2 * sizeof(void *));
    ASSERT_EQ(tallyf_set_rows(&tf, u32_array), TALLYF_DATA_OK);
    ASSERT_EQ(tallyf_set_cols(&tf, u32_array), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_row(&tf, 7), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_col(&tf, UINT32_MAX), TALLYF_DATA_OK);
    EXPECT_EQ(tf.row, 7u);
    EXPECT_EQ(tf.col, UINT32_MAX);

    tallyf_t expected = patterned();
    expected.rows = nullptr;
    expected.row = 7;
    expected.cols = nullptr;
    expected.col = UINT32_MAX;
    EXPECT_EQ(bytes_of(&tf.rows, sizeof tf.rows),
              bytes_of(&expected.rows, sizeof expected.rows));
    EXPECT_EQ(bytes_of(&tf.cols, sizeof tf.cols),
              bytes_of(&expected.cols, sizeof expected.cols));
    EXPECT_EQ(outside(tf, FIELD_OFFSET(rows), 2 * sizeof(void *)), before);
}

// A null pointer (pointer form) or a null source (copy form) is refused with
// -2 and the record untouched.  The copy form tests the source before it
// looks at n, so a null source with n = 0 is refused too, and a large n with
// a null field is never used.
TEST(TallyfMutators, NullIsRefusedFirstAndChangesNothing)
{
    const std::vector<std::pair<const char *, std::function<int(tallyf_t *)>>>
        refusals = {
            {"rows", [](tallyf_t *t) { return tallyf_set_rows(t, nullptr); }},
            {"cols", [](tallyf_t *t) { return tallyf_set_cols(t, nullptr); }},
            {"nums", [](tallyf_t *t) { return tallyf_set_nums(t, nullptr); }},
            {"row_sums", [](tallyf_t *t) { return tallyf_set_row_sums(t, nullptr); }},
            {"col_sums", [](tallyf_t *t) { return tallyf_set_col_sums(t, nullptr); }},
            {"tmp_file", [](tallyf_t *t) { return tallyf_set_tmp_file(t, nullptr); }},
            {"rows_cpy 0", [](tallyf_t *t) { return tallyf_set_rows_cpy(t, nullptr, 0); }},
            {"cols_cpy 0", [](tallyf_t *t) { return tallyf_set_cols_cpy(t, nullptr, 0); }},
            {"nums_cpy 0", [](tallyf_t *t) { return tallyf_set_nums_cpy(t, nullptr, 0); }},
            {"nums_cpy huge", [](tallyf_t *t) { return tallyf_set_nums_cpy(t, nullptr, UINT64_MAX); }},
            {"row_sums_cpy 3", [](tallyf_t *t) { return tallyf_set_row_sums_cpy(t, nullptr, 3); }},
            {"col_sums_cpy 3", [](tallyf_t *t) { return tallyf_set_col_sums_cpy(t, nullptr, 3); }},
            {"tmp_file_cpy 1", [](tallyf_t *t) { return tallyf_set_tmp_file_cpy(t, nullptr, 1); }},
        };
    for (const auto &[name, refuse] : refusals) {
        SCOPED_TRACE(name);
        tallyf_t tf = patterned();
        // Null arrays: a copy that went ahead would crash here.
        tf.rows = nullptr;
        tf.cols = nullptr;
        tf.nums = tf.row_sums = tf.col_sums = nullptr;
        tf.tmp_file = some_stream;
        const Bytes before = bytes_of(&tf, sizeof tf);
        EXPECT_EQ(refuse(&tf), TALLYF_DATA_INVALID);
        EXPECT_EQ(bytes_of(&tf, sizeof tf), before);
    }
}

// A real source with n = 0 copies nothing, even into a null field.
TEST(TallyfMutators, CopyOfNothingAcceptsANullField)
{
    tallyf_t tf = patterned();
    tf.rows = nullptr;
    tf.cols = nullptr;
    tf.nums = tf.row_sums = tf.col_sums = nullptr;
    tf.tmp_file = nullptr;
    const Bytes before = bytes_of(&tf, sizeof tf);
    const uint32_t u = 1;
    const double d = 1;
    EXPECT_EQ(tallyf_set_rows_cpy(&tf, &u, 0), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_cols_cpy(&tf, &u, 0), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_nums_cpy(&tf, &d, 0), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_row_sums_cpy(&tf, &d, 0), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_col_sums_cpy(&tf, &d, 0), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_tmp_file_cpy(&tf, stdin, 0), TALLYF_DATA_OK);
    EXPECT_EQ(bytes_of(&tf, sizeof tf), before);
}

// The element and copy forms of the three double arrays write into their own
// array only, and leave the record itself (counts, capacity, pointers) alone.
TEST(TallyfMutators, DoubleArrayElementsAndCopiesLeaveTheRecordAlone)
{
    using Ae = int (*)(tallyf_t *, uint64_t, double);
    using Cpy = int (*)(tallyf_t *, const double *, uint64_t);
    const struct {
        const char *name;
        Ae ae;
        Cpy cpy;
        int target; // 0 nums, 1 row_sums, 2 col_sums
    } cases[] = {
        {"nums", tallyf_set_nums_ae, tallyf_set_nums_cpy, 0},
        {"row_sums", tallyf_set_row_sums_ae, tallyf_set_row_sums_cpy, 1},
        {"col_sums", tallyf_set_col_sums_ae, tallyf_set_col_sums_cpy, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        double arrays[3][8];
        for (auto &a : arrays)
            for (double &x : a)
                x = -1;
        tallyf_t tf = patterned();
        tf.nums = arrays[0];
        tf.row_sums = arrays[1];
        tf.col_sums = arrays[2];
        tf.num_count = 3;
        tf.array_size = 8;
        const Bytes before = bytes_of(&tf, sizeof tf);

        EXPECT_EQ(c.ae(&tf, 5, 2.5), TALLYF_DATA_OK);
        const double src[4] = {10, 20, 30, 40};
        EXPECT_EQ(c.cpy(&tf, src, 4), TALLYF_DATA_OK);

        const double want[8] = {10, 20, 30, 40, -1, 2.5, -1, -1};
        for (int a = 0; a < 3; ++a)
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(arrays[a][i], a == c.target ? want[i] : -1)
                    << "array " << a << " index " << i;
        EXPECT_EQ(bytes_of(&tf, sizeof tf), before);
    }
}

// rows_ae and rows_cpy write through the pointer that rows holds, not into
// the storage of row; the same for cols.
TEST(TallyfMutators, RowsAndColsElementsWriteThroughThePointer)
{
    uint32_t rows[4] = {0, 0, 0, 0};
    uint32_t cols[4] = {0, 0, 0, 0};
    tallyf_t tf = patterned();
    ASSERT_EQ(tallyf_set_rows(&tf, rows), TALLYF_DATA_OK);
    ASSERT_EQ(tallyf_set_cols(&tf, cols), TALLYF_DATA_OK);
    const Bytes before = bytes_of(&tf, sizeof tf);

    EXPECT_EQ(tallyf_set_rows_ae(&tf, 2, 7), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_cols_ae(&tf, 3, 9), TALLYF_DATA_OK);
    const uint32_t src[2] = {UINT32_MAX, 5};
    EXPECT_EQ(tallyf_set_cols_cpy(&tf, src, 2), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_rows_cpy(&tf, src + 1, 1), TALLYF_DATA_OK);

    EXPECT_EQ(tf.rows, rows);
    EXPECT_EQ(tf.cols, cols);
    EXPECT_EQ(bytes_of(&tf, sizeof tf), before);
    EXPECT_EQ((std::vector<uint32_t>(rows, rows + 4)),
              (std::vector<uint32_t>{5, 0, 7, 0}));
    EXPECT_EQ((std::vector<uint32_t>(cols, cols + 4)),
              (std::vector<uint32_t>{UINT32_MAX, 5, 0, 9}));
}

// The stream-array forms copy FILE objects whole into the array tmp_file
// points to.
TEST(TallyfMutators, StreamObjectsAreCopiedWhole)
{
    FILE files[3];
    std::memset(static_cast<void *>(files), 0, sizeof files);
    FILE one, two[2];
    std::memset(static_cast<void *>(&one), 0x11, sizeof one);
    std::memset(static_cast<void *>(two), 0x22, sizeof two);
    tallyf_t tf = patterned();
    ASSERT_EQ(tallyf_set_tmp_file(&tf, files), TALLYF_DATA_OK);

    EXPECT_EQ(tallyf_set_tmp_file_ae(&tf, 2, one), TALLYF_DATA_OK);
    EXPECT_EQ(tallyf_set_tmp_file_cpy(&tf, two, 1), TALLYF_DATA_OK);

    EXPECT_EQ(tf.tmp_file, files);
    EXPECT_EQ(bytes_of(&files[0], sizeof(FILE)), bytes_of(&two[0], sizeof(FILE)));
    EXPECT_EQ(bytes_of(&files[1], sizeof(FILE)), Bytes(sizeof(FILE), 0));
    EXPECT_EQ(bytes_of(&files[2], sizeof(FILE)), bytes_of(&one, sizeof(FILE)));
}

// A code outside the table is stored as given; the record then keeps only
// its sum and count.
TEST(TallyfMutators, UnknownCodeAccumulatesOnlySumAndCount)
{
    tallyf_t tf{};
    tallyf_init(&tf);
    ASSERT_EQ(tallyf_set_code(&tf, static_cast<tallyf_code_t>(99)), TALLYF_DATA_OK);
    tallyf_process_val(&tf, 1.5);
    tallyf_process_val(&tf, 2.5);
    EXPECT_EQ(tf.code, 99u);
    EXPECT_EQ(tf.sum, 4.0);
    EXPECT_EQ(tf.num_count, 2u);
    EXPECT_EQ(tf.sum_x, 0.0);
    EXPECT_EQ(tf.sum_x_2, 0.0);
    EXPECT_EQ(tf.nums, nullptr);
    if (tf.tmp_file != nullptr)
        std::fclose(tf.tmp_file);
}
