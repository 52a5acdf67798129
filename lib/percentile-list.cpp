// Walking a percentile list.
#include "percentile-list.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

bool tallyf_percentile_next(const char **cursor, tallyf_percentile_t *out,
                            const char **bad)
{
    const char *item = *cursor;
    *bad = nullptr;
    if (*item == '\0')
        return false;
    const char *comma = std::strchr(item, ',');
    const size_t len = comma != nullptr ? static_cast<size_t>(comma - item)
                                        : std::strlen(item);
    // Digits, a point and an exponent only: no blanks, signs of strtod's
    // own choosing, hexadecimal, "inf" or "nan".
    bool digits = false;
    for (size_t i = 0; i < len; ++i) {
        const char c = item[i];
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c != '.' && c != 'e' && c != 'E' &&
                 !((c == '-' || c == '+') && i > 0 &&
                   (item[i - 1] == 'e' || item[i - 1] == 'E'))) {
            digits = false;
            break;
        }
    }
    char text[64];
    char *end = nullptr;
    double p = NAN;
    if (digits && len < sizeof text) {
        std::memcpy(text, item, len);
        text[len] = '\0';
        p = std::strtod(text, &end);
    }
    if (end == nullptr || *end != '\0' || !(p > 0 && p < 100)) {
        *bad = item;
        return false;
    }
    out->fraction = p / 100;
    out->label = item;
    out->label_len = len;
    *cursor = comma != nullptr ? comma + 1 : item + len;
    if (comma != nullptr && comma[1] == '\0') { // a list ending in a comma
        *bad = comma + 1;
        return false;
    }
    return true;
}

bool tallyf_percentiles_valid(const char *list, const char **bad)
{
    const char *at = list;
    tallyf_percentile_t p;
    size_t count = 0;
    while (tallyf_percentile_next(&at, &p, bad))
        ++count;
    if (*bad == nullptr && count == 0)
        *bad = list;
    return *bad == nullptr;
}

size_t tallyf_percentile_count(const char *list)
{
    const char *at = list, *bad;
    tallyf_percentile_t p;
    size_t count = 0;
    while (tallyf_percentile_next(&at, &p, &bad))
        ++count;
    return count;
}
