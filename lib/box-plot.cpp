// The box plot: its numbers and its drawing.
#include "box-plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "order-stats.h"

tallyf_box_t tally_box(const double *v, uint64_t n)
{
    tallyf_box_t b;
    b.q1 = tally_division_point(v, n, 1, 4);
    b.median = tally_division_point(v, n, 2, 4);
    b.q3 = tally_division_point(v, n, 3, 4);
    b.iqr = tallyf_number_combine(b.q3, 2, b.q1, -2);
    // Q1 - 1.5 (Q3 - Q1) = 2.5 Q1 - 1.5 Q3, and the mirror image.
    b.lower_fence = tallyf_number_combine(b.q1, 5, b.q3, -3);
    b.upper_fence = tallyf_number_combine(b.q3, 5, b.q1, -3);
    b.lower_whisker = b.upper_whisker = NAN;
    b.outliers = 0;
    if (!b.lower_fence.exact) {
        // No finite fences: only a value on the far side of an infinite
        // fence's own value could be outside, and none is.
        return b;
    }
    // The sorted values rise through the fences; NaNs stand last and lie
    // neither inside nor outside.
    const double *end = v + n;
    const double *nan_start = std::partition_point(
        v, end, [](double x) { return !std::isnan(x); });
    const double *first_in = std::partition_point(
        v, nan_start,
        [&](double x) { return tallyf_number_compare(x, &b.lower_fence) < 0; });
    const double *past_in = std::partition_point(
        first_in, nan_start,
        [&](double x) { return tallyf_number_compare(x, &b.upper_fence) <= 0; });
    if (first_in != past_in) {
        b.lower_whisker = *first_in;
        b.upper_whisker = past_in[-1];
    }
    b.outliers = static_cast<uint64_t>((first_in - v) + (nan_start - past_in));
    return b;
}

bool tally_box_draw(const double *v, uint64_t n, const tallyf_box_t *box,
                    char *line, size_t width)
{
    const char *why = nullptr;
    if (n == 0)
        why = "no values";
    else if (!std::isfinite(v[0]) || !std::isfinite(v[n - 1]))
        why = "not every value is finite";
    else if (!std::isfinite(box->q1) || !std::isfinite(box->median) ||
             !std::isfinite(box->q3) || !std::isfinite(box->lower_whisker) ||
             !std::isfinite(box->upper_whisker))
        why = "a quartile or whisker is not finite";
    if (why != nullptr || width < 2) {
        std::snprintf(line, width + 1, "%s", why != nullptr ? why : "");
        return false;
    }
    // At half scale (exact halvings) the span of two finite doubles cannot
    // overflow, even where long double is no wider than double (as under
    // valgrind); long double keeps the columns of ordinary data as they were.
    const long double low = v[0] * 0.5L;
    const long double span = v[n - 1] * 0.5L - low;
    const auto column = [&](double x) -> size_t {
        if (span == 0)
            return 0;
        const long double c = (x * 0.5L - low) / span * (width - 1) + 0.5L;
        return std::min(static_cast<size_t>(c), width - 1);
    };
    std::memset(line, ' ', width);
    const auto fill = [&](double from, double to, char c) {
        for (size_t i = column(from); i <= column(to); ++i)
            line[i] = c;
    };
    fill(box->lower_whisker, box->upper_whisker, '-');
    fill(box->q1, box->q3, '=');
    line[column(box->q1)] = '[';
    line[column(box->q3)] = ']';
    line[column(box->lower_whisker)] = '+';
    line[column(box->upper_whisker)] = '+';
    line[column(box->median)] = '|';
    // Outliers last, so that every one shows: below the lower whisker and
    // above the upper one.
    size_t at = width;
    unsigned here = 0;
    const auto mark = [&] {
        if (here != 0)
            line[at] = here == 1 ? 'o' : here <= 9 ? static_cast<char>('0' + here)
                                                   : '*';
    };
    for (uint64_t i = 0; i < n; ++i) {
        if (v[i] >= box->lower_whisker && v[i] <= box->upper_whisker)
            continue;
        const size_t c = column(v[i]);
        if (c != at) {
            mark();
            at = c;
            here = 0;
        }
        ++here;
    }
    mark();
    size_t len = width;
    while (len > 0 && line[len - 1] == ' ')
        --len;
    line[len] = '\0';
    return true;
}
