// Results computed exactly and printed as "%f" would print their exact value.
#ifndef NUMTALLY_LIB_TALLYF_NUMBER_H
#define NUMTALLY_LIB_TALLYF_NUMBER_H

#include <cstddef>

#include "exact-fixed.h"

// A result printed as "%f" prints it: the exact value when every input is
// finite, otherwise the double that IEEE arithmetic gives (inf, NaN).
struct tallyf_number_t {
    bool exact;
    exact_fixed_t fixed; // when exact
    double value;        // when not
};

// Writes the number as "%f" would write its value (at most 400 bytes).
void tallyf_format_number(const tallyf_number_t *x, char *buf, size_t size);

// x_halves / 2 * x + y_halves / 2 * y: exact when x and y are finite.
tallyf_number_t tallyf_number_combine(double x, int x_halves, double y,
                                      int y_halves);

// -1, 0 or 1 as x lies below, at or above an exact number.
int tallyf_number_compare(double x, const tallyf_number_t *bound);

#endif
