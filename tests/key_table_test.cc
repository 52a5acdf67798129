// The key table: first-appearance numbers against a plain map, and a hash
// that no fixed choice of key bytes sends to a few slots.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "key-table.h"

namespace {

using namespace tally_key_detail;

// Keys of every length to 40 bytes, many alike but for a byte or their
// length, found and added in a random order: each gets the number of its
// first appearance, through many growths of the table.
TEST(KeyTable, NumbersKeysInFirstAppearanceOrder)
{
    std::mt19937 rng(8128);
    tally_key_table_t table;
    std::unordered_map<std::string, uint32_t> want;
    for (int i = 0; i < 60000; ++i) {
        const size_t len = rng() % 41;
        std::string key(len, 'k');
        for (size_t j = 0; j < len; ++j)
            if (rng() % 4 == 0)
                key[j] = static_cast<char>(rng() % 3);
        const auto [it, added_here] =
            want.emplace(key, static_cast<uint32_t>(want.size()));
        bool added;
        ASSERT_EQ(table.find_or_add(key.data(), key.size(), &added), it->second);
        ASSERT_EQ(added, added_here);
    }
    ASSERT_EQ(table.size(), want.size());
    for (const auto &[key, g] : want)
        ASSERT_EQ(table.key(g), key);
}

// The slots (low 12 bits) of 4096 keys that share their first 8 bytes and
// differ after them: as many as random numbers would fill, for any
// first word (the former hash's constants among them), any length.
TEST(KeyTable, KeysAlikeInTheirFirstBytesSpreadOverTheSlots)
{
    const hash_key_t key = random_hash_key();
    EXPECT_NE(key.k0, key.k1);
    const uint64_t firsts[] = {0, ~uint64_t{0}, 0x9e3779b97f4a7c15ull,
                               0xbf58476d1ce4e5b9ull, 0x94d049bb133111ebull,
                               0x3030303030303030ull};
    for (uint64_t first : firsts)
        for (size_t len : {9, 12, 16, 17, 24, 33, 40}) {
            std::set<uint64_t> slots;
            for (uint32_t i = 0; i < 4096; ++i) {
                std::string k(len, '0');
                std::memcpy(k.data(), &first, 8);
                const std::string tail = std::to_string(i);
                k.replace(len - tail.size(), tail.size(), tail);
                uint64_t a, b, h;
                if (len <= 16) {
                    short_words(k.data(), len, &a, &b);
                    h = hash_short(key, a, b, len);
                } else {
                    h = hash_long(key, k.data(), len);
                }
                slots.insert(h & 4095);
            }
            // Random slots fill 4096 (1 - 1/e) = 2589 of them, give or take 30.
            EXPECT_GT(slots.size(), 2300u) << "first word " << std::hex << first
                                           << std::dec << ", length " << len;
        }
}

} // namespace
