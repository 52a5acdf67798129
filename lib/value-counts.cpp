// Counts of distinct values by buckets of a hash of their bits.
#include "value-counts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <thread>

#include "xt.h"

namespace {

int count_threads = 1;

constexpr uint64_t kSign = uint64_t{1} << 63;
constexpr uint64_t kNan = 0x7FF8000000000000u; // every NaN's key
constexpr uint64_t kEmpty = ~uint64_t{0};      // a negative NaN: no key
constexpr uint64_t kMul = 0x9E3779B97F4A7C15u;

// The key a value is counted under: its bits, one for every NaN and one
// for both zeros.
inline uint64_t key_of(double x)
{
    uint64_t k = std::bit_cast<uint64_t>(x);
    k = x == 0 ? 0 : k;
    return x != x ? kNan : k;
}

// The integer order of xt_double_cmp's order.
inline uint64_t order_of(uint64_t bits)
{
    const uint64_t flipped = (bits & kSign) ? ~bits : (bits | kSign);
    return flipped - ((uint64_t{1} << 52) - 1);
}

inline uint64_t from_order(uint64_t k)
{
    const uint64_t flipped = k + ((uint64_t{1} << 52) - 1);
    return (flipped & kSign) ? (flipped & ~kSign) : ~flipped;
}

// Runs f(0) .. f(threads - 1), each on a thread of its own but the first.
template <class F> void on_threads(int threads, F f)
{
    std::vector<std::thread> more;
    for (int t = 1; t < threads; ++t) {
        try {
            more.emplace_back(f, t);
        } catch (...) {
            f(t); // no thread to be had: run it here
        }
    }
    f(0);
    for (std::thread &th : more)
        th.join();
}

// The threads for n values: one where there are too few to share.
int threads_for(uint64_t n)
{
    return n < (uint64_t{1} << 18) ? 1 : count_threads;
}

// What a key stands for where it is shown: the zero's sign and the first
// NaN in order.
struct shown_t {
    bool negative_zero = false;
    uint64_t first_nan = 0; // its bits

    double operator()(uint64_t key) const
    {
        if (key == 0)
            return negative_zero ? -0.0 : 0.0;
        if (key == kNan)
            return std::bit_cast<double>(first_nan);
        return std::bit_cast<double>(key);
    }
};

// Moves the keys of v[0, n) into buckets of a scratch array by a hash of
// them, and calls each(t, keys, count, bits) for each bucket's keys, on
// thread t (below threads_for(n)), each thread with about as many keys.
template <class Each> shown_t by_buckets(const double *v, uint64_t n, Each each)
{
    // About 4,000 to 8,000 values a bucket: their table stays in cache.
    const int bits = std::clamp(static_cast<int>(std::bit_width(n >> 13)), 1, 14);
    const size_t nb = size_t{1} << bits;
    const int shift = 64 - bits;
    const int T = threads_for(n);
    // Each thread's count in each bucket, then where its next key goes.
    std::vector<std::vector<uint64_t>> at(T, std::vector<uint64_t>(nb, 0));
    std::vector<char> negative_zero(T, 0);
    std::vector<char> has_nan(T, 0);
    std::vector<uint64_t> first_nan(T, 0);
    const auto slice = [n, T](int t) { return n / T * t; };
    const auto slice_end = [n, T](int t) {
        return t + 1 == T ? n : n / T * (t + 1);
    };
    on_threads(T, [&](int t) {
        uint64_t *count = at[t].data();
        bool nz = false;
        for (uint64_t i = slice(t), e = slice_end(t); i < e; ++i) {
            const double x = v[i];
            nz |= std::bit_cast<uint64_t>(x) == kSign;
            if (x != x) [[unlikely]] {
                const uint64_t o = order_of(std::bit_cast<uint64_t>(x));
                if (!has_nan[t] || o < first_nan[t])
                    first_nan[t] = o;
                has_nan[t] = 1;
            }
            ++count[(key_of(x) * kMul) >> shift];
        }
        negative_zero[t] = nz;
    });
    // Bucket by bucket, each thread's share in turn.
    std::vector<uint64_t> start(nb + 1, 0);
    uint64_t sum = 0;
    for (size_t b = 0; b < nb; ++b) {
        start[b] = sum;
        for (int t = 0; t < T; ++t) {
            const uint64_t c = at[t][b];
            at[t][b] = sum;
            sum += c;
        }
    }
    start[nb] = sum;
    // In huge pages where the system gives them: a small page costs a
    // fault each, which a virtual machine makes dear.
    struct free_t {
        void operator()(uint64_t *p) const { xt_free(p); }
    };
    const std::unique_ptr<uint64_t[], free_t> scratch(static_cast<uint64_t *>(
        xt_grow_huge(nullptr, 0, n, sizeof(uint64_t))));
    uint64_t *keys = scratch.get();
    on_threads(T, [&](int t) {
        uint64_t *to = at[t].data();
        for (uint64_t i = slice(t), e = slice_end(t); i < e; ++i) {
            const uint64_t k = key_of(v[i]);
            keys[to[(k * kMul) >> shift]++] = k;
        }
    });
    // The buckets shared out: about as many keys for each thread.
    std::vector<size_t> from(T + 1, nb);
    from[0] = 0;
    size_t b = 0;
    for (int t = 1; t < T; ++t) {
        while (b < nb && start[b] < n / T * t)
            ++b;
        from[t] = b;
    }
    on_threads(T, [&](int t) {
        for (size_t c = from[t]; c < from[t + 1]; ++c)
            each(t, keys + start[c], start[c + 1] - start[c], bits);
    });
    shown_t shown;
    bool nan = false;
    uint64_t nan_order = 0;
    for (int t = 0; t < T; ++t) {
        shown.negative_zero |= negative_zero[t] != 0;
        if (has_nan[t] && (!nan || first_nan[t] < nan_order))
            nan_order = first_nan[t];
        nan = nan || has_nan[t];
    }
    if (nan)
        shown.first_nan = from_order(nan_order);
    return shown;
}

// A table of the keys of one bucket at a time, each with its count: it
// starts small and doubles when half full (a bucket may hold one value many
// times over).
class bucket_table_t {
public:
    // Counts keys[0, n) (hashed as in bucket_bits buckets).
    void count(const uint64_t *keys, uint64_t n, int bucket_bits)
    {
        bucket_bits_ = bucket_bits;
        int bits = 4;
        while ((uint64_t{1} << bits) < 2 * n && bits < 14)
            ++bits;
        resize(bits);
        for (uint64_t i = 0; i < n; ++i) {
            insert(keys[i], 1);
            if (2 * filled_.size() > mask_)
                resize(bits_ + 1);
        }
    }

    size_t size() const { return filled_.size(); }

    // Calls f(key, count) for each key counted, then empties the table.
    template <class F> void drain(F f)
    {
        for (uint32_t s : filled_) {
            f(slot_[s].key, slot_[s].count);
            slot_[s].key = kEmpty;
        }
        filled_.clear();
    }

private:
    struct slot_t {
        uint64_t key;
        uint64_t count;
    };

    void insert(uint64_t k, uint64_t c)
    {
        size_t s = static_cast<size_t>((k * kMul) >> (64 - bucket_bits_ - bits_)) & mask_;
        while (slot_[s].key != k && slot_[s].key != kEmpty)
            s = (s + 1) & mask_;
        if (slot_[s].key == kEmpty) {
            slot_[s] = {k, 0};
            filled_.push_back(static_cast<uint32_t>(s));
        }
        slot_[s].count += c;
    }

    void resize(int bits)
    {
        if (bits <= bits_ && !slot_.empty())
            return; // never smaller: a table keeps its room for the next

        std::vector<slot_t> old_slot;
        std::vector<uint32_t> old_filled;
        old_slot.swap(slot_);
        old_filled.swap(filled_);
        bits_ = bits;
        mask_ = (size_t{1} << bits) - 1;
        slot_.assign(mask_ + 1, slot_t{kEmpty, 0});
        filled_.reserve(mask_ / 2 + 1);
        for (uint32_t s : old_filled)
            insert(old_slot[s].key, old_slot[s].count);
    }

    int bucket_bits_ = 0;
    int bits_ = 0;
    size_t mask_ = 0;
    std::vector<slot_t> slot_;
    std::vector<uint32_t> filled_;
};

// The number of distinct keys of one bucket at a time: a table of keys
// alone, at most half full (it doubles where a bucket holds more distinct
// keys than its size foretold: one value many times over takes no room),
// emptied whole for the next bucket.
class bucket_set_t {
public:
    uint64_t count(const uint64_t *keys, uint64_t n, int bucket_bits)
    {
        int bits = 4;
        while ((uint64_t{1} << bits) < 2 * n && bits < 14)
            ++bits;
        reset(bits, bucket_bits);
        uint64_t distinct = 0;
        for (uint64_t i = 0; i < n; ++i) {
            if (insert(keys[i]) && 2 * ++distinct > mask_)
                grow(bucket_bits);
        }
        return distinct;
    }

private:
    void reset(int bits, int bucket_bits)
    {
        const size_t size = size_t{1} << bits;
        if (slot_.size() < size)
            slot_.resize(size);
        std::fill_n(slot_.begin(), size, kEmpty);
        mask_ = size - 1;
        shift_ = 64 - bucket_bits - bits;
    }

    // True where k is new.
    bool insert(uint64_t k)
    {
        size_t s = static_cast<size_t>((k * kMul) >> shift_) & mask_;
        while (slot_[s] != k && slot_[s] != kEmpty)
            s = (s + 1) & mask_;
        const bool fresh = slot_[s] == kEmpty;
        slot_[s] = k;
        return fresh;
    }

    void grow(int bucket_bits)
    {
        std::vector<uint64_t> old(slot_.begin(), slot_.begin() + mask_ + 1);
        reset(std::countr_zero(mask_ + 1) + 1, bucket_bits);
        for (uint64_t k : old)
            if (k != kEmpty)
                insert(k);
    }

    std::vector<uint64_t> slot_;
    size_t mask_ = 0;
    int shift_ = 0;
};

// a before b: the more frequent, then the lower in value order.
inline bool before(const tally_counted_t &a, const tally_counted_t &b)
{
    if (a.count != b.count)
        return a.count > b.count;
    return order_of(std::bit_cast<uint64_t>(a.value)) <
           order_of(std::bit_cast<uint64_t>(b.value));
}

} // namespace

void tally_choose_count_threads(int threads)
{
    count_threads = std::max(threads, 1);
}

uint64_t tally_count_distinct(const double *v, uint64_t n)
{
    if (n == 0)
        return 0;
    const int T = threads_for(n);
    std::vector<bucket_set_t> sets(T);
    std::vector<uint64_t> distinct(T, 0);
    by_buckets(v, n, [&](int t, const uint64_t *keys, uint64_t m, int bits) {
        distinct[t] += sets[t].count(keys, m, bits);
    });
    uint64_t sum = 0;
    for (uint64_t d : distinct)
        sum += d;
    return sum;
}

std::vector<tally_counted_t> tally_count_top(const double *v, uint64_t n,
                                             uint64_t k)
{
    if (n == 0 || k == 0)
        return {};
    const int T = threads_for(n);
    std::vector<bucket_table_t> tables(T);
    // Each thread's best k so far, in a heap whose front is the worst of
    // them.  Values here are the keys' bits: the order of a zero or a NaN
    // key is that of the value it stands for.
    std::vector<std::vector<tally_counted_t>> best(T);
    const shown_t shown = by_buckets(v, n, [&](int t, const uint64_t *keys,
                                               uint64_t m, int bits) {
        std::vector<tally_counted_t> &heap = best[t];
        tables[t].count(keys, m, bits);
        tables[t].drain([&](uint64_t key, uint64_t count) {
            const tally_counted_t c{std::bit_cast<double>(key), count};
            if (heap.size() < k) {
                heap.push_back(c);
                std::push_heap(heap.begin(), heap.end(), before);
            } else if (before(c, heap.front())) {
                std::pop_heap(heap.begin(), heap.end(), before);
                heap.back() = c;
                std::push_heap(heap.begin(), heap.end(), before);
            }
        });
    });
    std::vector<tally_counted_t> top;
    for (const std::vector<tally_counted_t> &h : best)
        top.insert(top.end(), h.begin(), h.end());
    std::sort(top.begin(), top.end(), before);
    if (top.size() > k)
        top.resize(k);
    for (tally_counted_t &c : top)
        c.value = shown(std::bit_cast<uint64_t>(c.value));
    return top;
}

void tally_sort_on_threads(double *v, uint64_t n)
{
    if (threads_for(n) < 2) {
        xt_double_sort(v, n);
        return;
    }
    // The middle of 1,023 keys spread over the values.
    constexpr int kSample = 1023;
    uint64_t sample[kSample];
    for (int i = 0; i < kSample; ++i)
        sample[i] = order_of(std::bit_cast<uint64_t>(v[n / kSample * i]));
    std::nth_element(sample, sample + kSample / 2, sample + kSample);
    const uint64_t split = sample[kSample / 2];
    double *const mid = std::partition(v, v + n, [split](double x) {
        return order_of(std::bit_cast<uint64_t>(x)) < split;
    });
    const uint64_t low = static_cast<uint64_t>(mid - v);
    on_threads(2, [&](int t) {
        if (t == 0)
            xt_double_sort(v, low);
        else
            xt_double_sort(mid, n - low);
    });
}
