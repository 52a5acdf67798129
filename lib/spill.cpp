// The listing spill file.
#include "spill.h"

#include <cerrno>

#include "tmp-file.h"

bool tally_spill_t::open(tally_error_t *err)
{
    errno = 0;
    file_ = tallyf_tmpfile();
    if (file_ == nullptr)
        return tally_fail_io(err, "cannot create temporary file", errno);
    return true;
}

bool tally_spill_t::finish(uint64_t count, tally_error_t *err)
{
    return tally_check_written(file_, count * sizeof(record_t), err);
}

bool tally_spill_t::load(uint64_t first, uint64_t last, const uint64_t *counts,
                         tally_error_t *err)
{
    first_ = first;
    const uint64_t n = last - first;
    start_.assign(n + 1, 0);
    for (uint64_t k = 0; k < n; ++k)
        start_[k + 1] = start_[k] + counts[k];
    values_.resize(start_[n]);
    std::vector<uint64_t> fill(start_.begin(), start_.end() - 1);
    std::rewind(file_);
    record_t chunk[4096];
    size_t got;
    uint64_t placed = 0;
    while ((got = std::fread(chunk, sizeof(record_t), 4096, file_)) != 0) {
        for (size_t i = 0; i < got; ++i) {
            const uint64_t k = chunk[i].state - first;
            if (k < n && fill[k] < start_[k + 1]) {
                values_[fill[k]++] = chunk[i].value;
                ++placed;
            }
        }
    }
    if (std::ferror(file_) || placed != start_[n])
        return tally_fail_io(err, "cannot read temporary file", errno);
    return true;
}

bool tally_spill_t::replay_failed(tally_error_t *err)
{
    return tally_fail_io(err, "cannot read back a temporary file", errno);
}
