// The report's one printer: every line of a record's block starts with the
// line's prefix (a group's key fields, each followed by a TAB, or nothing),
// and a statistic's line then with "LABEL NUM " (a column chosen by name:
// "LABEL NAME ") and the statistic's name,
// padded so that the values line up.
#ifndef NUMTALLY_LIB_PRINTER_H
#define NUMTALLY_LIB_PRINTER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tallyf-number.h"

class tally_records_t;

struct tally_printer_t {
    const char *prefix;     // written first on every line
    size_t prefix_len;
    const char *label;      // "Row" or "Col"
    uint32_t num;           // the row or column number
    const char *col_name = nullptr; // a column's name, shown instead of num
    bool pair = false;      // two columns: "LABEL NUM,NUM2"
    uint32_t num2 = 0;
    const char *pair_sep = ","; // welch-t --split: "Col NUM by NUM2"
    FILE *out = stdout;     // where the lines go
    // A record layout: every result goes there instead of to a line, and
    // lines that are no result become its notes.
    tally_records_t *records = nullptr;
    // Significant digits of every number ("%.*g"); 0: "%f" as below.
    int digits = 0;

    // "LABEL NUM NAME VALUE\n", NAME padded with blanks to width - 1
    // characters and one more blank; the value as "%f" (or "%" PRIu64,
    // exact text, "(%f, %f)").  A computed result that is exactly zero
    // prints as 0.000000, never -0.000000; stat_value prints one of the
    // values read (a bound, a quantile, the mode) with its own sign.
    void stat(const char *name, int width, double value) const;
    void stat_value(const char *name, int width, double value) const;
    void stat_count(const char *name, int width, uint64_t value) const;
    void stat_text(const char *name, int width, const char *text) const;
    void stat_number(const char *name, int width,
                     const tallyf_number_t &value) const;
    void stat_interval(const char *name, int width, double low,
                       double high) const;
    // A line of its own after the prefix: text, then a newline.
    void line(const char *text) const;
    // The prefix and "LABEL NUM text\n".
    void labelled(const char *text) const;
    // A listing row: "%16f %16f %16f\n" after the prefix; a the value
    // read, b and c computed from it (an exact zero unsigned).  The record
    // layouts take them as the value, its z-score and its CDF.
    void row3(double a, double b, double c) const;
    // A table's row: k numbers (at most 4), each in a field of 16 after
    // the prefix, those with is_count set as whole numbers, then tail (or
    // nothing) after a blank.  The record layouts take each as the result
    // "NAME(K)", K the row's position in its table, and leave the tail out.
    void row(const char *const *names, const double *values,
             const bool *is_count, int k, const char *tail) const;

private:
    void start() const;     // the prefix
    // The prefix and "LABEL NUM " ("LABEL NAME ", "LABEL NUM,NUM2 ").
    void head() const;
};

// Room for any number tally_format_fixed writes.
inline constexpr size_t TALLY_FIXED_ROOM = 400;

// x as "%16f" prints it (decimals 6), or "%16.0f" (decimals 0), in the
// default rounding (the exact value rounded half to even), into out, which
// has room for TALLY_FIXED_ROOM bytes; its length.  No terminating NUL.
size_t tally_format_fixed(double x, int decimals, char *out);

// Width of the names in the mean, population and most other lines, and in
// the sample lines.
inline constexpr int TALLY_NAME_WIDTH = 15;
inline constexpr int TALLY_SAMPLE_WIDTH = 18;

#endif
