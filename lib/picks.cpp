// Row and column lists.
#include "picks.h"

#include <cstring>

namespace {

// The digits at [p, end) as a number; false when there are none, anything
// else, or a number above 4294967295.
bool digits_value(const char *p, const char *end, uint32_t *out)
{
    if (p == end)
        return false;
    uint64_t v = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > UINT32_MAX)
            return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

} // namespace

bool tally_parse_picks(const char *text, bool names_allowed,
                       tally_pick_t *out, size_t room, size_t *count)
{
    size_t n = 0; // picks so far, counted up to room + 1
    auto add = [&](tally_pick_t pick) {
        if (n < room)
            out[n] = pick;
        if (n <= room)
            ++n;
    };
    for (const char *p = text;;) {
        const char *comma = std::strchr(p, ',');
        const char *end = comma != nullptr ? comma : p + std::strlen(p);
        if (end == p)
            return false;
        uint32_t a, b;
        const char *dash = static_cast<const char *>(
            std::memchr(p, '-', static_cast<size_t>(end - p)));
        if (names_allowed && *p == '=') {
            // "=NAME": a name, also one made of digits alone.
            if (end == p + 1)
                return false;
            add({0, p + 1, static_cast<size_t>(end - p - 1)});
        } else if (digits_value(p, end, &a)) {
            add({a, nullptr, 0});
        } else if (dash != nullptr && digits_value(p, dash, &a) &&
                   digits_value(dash + 1, end, &b)) {
            if (b < a)
                return false;
            for (uint64_t k = a; k <= b && n <= room; ++k)
                add({static_cast<uint32_t>(k), nullptr, 0});
        } else if (names_allowed) {
            add({0, p, static_cast<size_t>(end - p)});
        } else {
            return false;
        }
        if (comma == nullptr)
            break;
        p = comma + 1;
    }
    *count = n;
    return true;
}
