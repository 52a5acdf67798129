// The numbers and the drawing of a box plot.
#ifndef NUMTALLY_LIB_BOX_PLOT_H
#define NUMTALLY_LIB_BOX_PLOT_H

#include <cstddef>
#include <cstdint>

#include "tallyf.h"
#include "tallyf-number.h"

// The numbers of a box plot, from a record with sorted values: quartiles as
// tallyf_quantiles computes them, fences Q1 - 1.5 IQR and Q3 + 1.5 IQR, the
// whisker ends (the lowest and highest values inside the fences, NaN when no
// finite fences) and the count of values outside the fences.
struct tallyf_box_t {
    double q1, median, q3;
    tallyf_number_t iqr, lower_fence, upper_fence;
    double lower_whisker, upper_whisker;
    uint64_t outliers;
};
tallyf_box_t tallyf_box(const tallyf_t *tf);

// Draws the box plot of a record with sorted values into line (width
// characters and a NUL; blanks at the end dropped): the values scaled from
// the lowest at column 0 to the highest at column width - 1, whiskers '-'
// ending in '+', the box '=' between '[' and ']', the median '|', and each
// outlier 'o' (a digit for 2 to 9 in one column, '*' for more).  Only finite
// marks are placed.  False, with line holding why it is not drawn, when
// there are no values, not every value is finite, or a quartile or whisker
// is not finite (width must then be at least 40).
bool tallyf_box_draw(const tallyf_t *tf, const tallyf_box_t *box, char *line,
                     size_t width);

#endif
