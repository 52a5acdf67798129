// The numbers and the drawing of a box plot.
#ifndef NUMTALLY_LIB_BOX_PLOT_H
#define NUMTALLY_LIB_BOX_PLOT_H

#include <cstddef>
#include <cstdint>

#include "tallyf-number.h"

// The numbers of a box plot of the sorted values v[0..n): quartiles as
// the quantile lines print them, fences Q1 - 1.5 IQR and Q3 + 1.5 IQR, the
// whisker ends (the lowest and highest values inside the fences, NaN when no
// finite fences) and the count of values outside the fences.
struct tallyf_box_t {
    double q1, median, q3;
    tallyf_number_t iqr, lower_fence, upper_fence;
    double lower_whisker, upper_whisker;
    uint64_t outliers;
};
tallyf_box_t tally_box(const double *v, uint64_t n);

// Draws the box plot of the sorted values v[0..n) into line (width
// characters and a NUL; blanks at the end dropped): the values scaled from
// the lowest at column 0 to the highest at column width - 1, whiskers '-'
// ending in '+', the box '=' between '[' and ']', the median '|', and each
// outlier 'o' (a digit for 2 to 9 in one column, '*' for more).  Only finite
// marks are placed.  False, with line holding why it is not drawn, when
// there are no values, not every value is finite, or a quartile or whisker
// is not finite (width must then be at least 40).
bool tally_box_draw(const double *v, uint64_t n, const tallyf_box_t *box,
                    char *line, size_t width);

// The record's entry points (tallyf_box, tallyf_box_draw) are the installed
// record's, declared in tallyf.h.

#endif
