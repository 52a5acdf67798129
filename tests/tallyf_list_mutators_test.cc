#include "tallyf-list-mutators.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const void *p, size_t n)
{
    const auto *b = static_cast<const unsigned char *>(p);
    return Bytes(b, b + n);
}

// A record whose fields all derive from k, so records are told apart.
tallyf_t record(unsigned k)
{
    tallyf_t tf;
    std::memset(static_cast<void *>(&tf), 0, sizeof tf);
    tf.code = static_cast<tallyf_code_t>(k % 18);
    tf.row = k;
    tf.col = k + 1;
    tf.sum = k * 1.5;
    tf.num_count = k + 2;
    tf.array_size = k + 3;
    tf.partitions = k + 4;
    tf.sum_x = k + 0.25;
    tf.sum_x_2 = k + 0.5;
    tf.expected_mean = -1.0 * k;
    tf.sum_y = k + 5.0;
    tf.sum_y_2 = k + 6.0;
    tf.sum_x_y = k + 7.0;
    return tf;
}

void expect_same(const tallyf_t &a, const tallyf_t &b)
{
    EXPECT_EQ(a.code, b.code);
    EXPECT_EQ(a.rows, b.rows); // the whole storage of row
    EXPECT_EQ(a.cols, b.cols);
    EXPECT_EQ(a.sum, b.sum);
    EXPECT_EQ(a.nums, b.nums);
    EXPECT_EQ(a.num_count, b.num_count);
    EXPECT_EQ(a.array_size, b.array_size);
    EXPECT_EQ(a.partitions, b.partitions);
    EXPECT_EQ(a.sum_x, b.sum_x);
    EXPECT_EQ(a.sum_x_2, b.sum_x_2);
    EXPECT_EQ(a.row_sums, b.row_sums);
    EXPECT_EQ(a.col_sums, b.col_sums);
    EXPECT_EQ(a.expected_mean, b.expected_mean);
    EXPECT_EQ(a.sum_y, b.sum_y);
    EXPECT_EQ(a.sum_y_2, b.sum_y_2);
    EXPECT_EQ(a.sum_x_y, b.sum_x_y);
    EXPECT_EQ(a.tmp_file, b.tmp_file);
}

struct ListMutators : ::testing::Test {
    tallyf_list_t list;
    Bytes before;
    void SetUp() override
    {
        list.count = 7;
        for (unsigned k = 0; k < TALLYF_LIST_MAX; ++k)
            list.functions[k] = record(k);
    }
    Bytes record_bytes(int i) const
    {
        return bytes_of(&list.functions[i], sizeof(tallyf_t));
    }
};

} // namespace

TEST_F(ListMutators, CountIsStoredAsGiven)
{
    const Bytes records = bytes_of(list.functions, sizeof list.functions);
    for (int32_t n : {0, 64, 65, -1, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(tallyf_list_set_count(&list, n), TALLYF_DATA_OK);
        EXPECT_EQ(list.count, n);
    }
    EXPECT_EQ(bytes_of(list.functions, sizeof list.functions), records);
}

// Copying 3 records replaces positions 0 to 2 and nothing else.
TEST_F(ListMutators, CopyReplacesTheFirstNRecordsOnly)
{
    const tallyf_t src[3] = {record(100), record(101), record(102)};
    std::vector<Bytes> rest;
    for (int i = 3; i < TALLYF_LIST_MAX; ++i)
        rest.push_back(record_bytes(i));

    EXPECT_EQ(tallyf_list_set_functions_cpy(&list, src, 3), TALLYF_DATA_OK);

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        expect_same(list.functions[i], src[i]);
    }
    for (int i = 3; i < TALLYF_LIST_MAX; ++i)
        EXPECT_EQ(record_bytes(i), rest[i - 3]) << "record " << i;
    EXPECT_EQ(list.count, 7);
}

// A null source is refused before n is looked at, and nothing changes.
TEST_F(ListMutators, NullSourceIsRefusedWhateverN)
{
    const Bytes whole = bytes_of(&list, sizeof list);
    EXPECT_EQ(tallyf_list_set_functions_cpy(&list, nullptr, 0),
              TALLYF_DATA_INVALID);
    EXPECT_EQ(tallyf_list_set_functions_cpy(&list, nullptr, 3),
              TALLYF_DATA_INVALID);
    EXPECT_EQ(bytes_of(&list, sizeof list), whole);

    const tallyf_t one = record(100);
    EXPECT_EQ(tallyf_list_set_functions_cpy(&list, &one, 0), TALLYF_DATA_OK);
    EXPECT_EQ(bytes_of(&list, sizeof list), whole);
}

// The element form copies the record whole into its position; the copy
// shares the value array and the temporary file with the original, so what
// is fed through one shows through the other.
TEST_F(ListMutators, ElementCopySharesArrayAndFile)
{
    std::vector<Bytes> others;
    for (int i = 0; i < TALLYF_LIST_MAX; ++i)
        others.push_back(record_bytes(i));

    double values[8] = {};
    tallyf_t original = record(200);
    original.code = TALLYF_QUANTILE;
    original.nums = values;
    original.num_count = 0;
    original.array_size = 8;
    original.tmp_file = std::tmpfile();
    ASSERT_NE(original.tmp_file, nullptr);

    EXPECT_EQ(tallyf_list_set_functions_ae(&list, 5, original), TALLYF_DATA_OK);
    expect_same(list.functions[5], original);
    EXPECT_EQ(list.count, 7);
    for (int i = 0; i < TALLYF_LIST_MAX; ++i) {
        if (i != 5) {
            EXPECT_EQ(record_bytes(i), others[i]) << "record " << i;
        }
    }

    tallyf_process_val(&list.functions[5], 4.5);
    EXPECT_EQ(original.nums[0], 4.5);
    EXPECT_EQ(original.num_count, 0u); // the counts are the copy's own

    std::fputs("shared\n", list.functions[5].tmp_file);
    std::rewind(original.tmp_file);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, original.tmp_file), nullptr);
    EXPECT_STREQ(line, "shared\n");
    std::fclose(original.tmp_file);
}
