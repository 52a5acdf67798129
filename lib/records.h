// The record layouts of a report: the results the printer is handed,
// collected as records for other programs to read instead of as labelled
// lines.  Tab-separated, comma-separated (RFC 4180) or JSON Lines; wide (one
// record per group, one column per result, a header line of column names)
// or long (one record per result: target, function, statistic, value).
#ifndef NUMTALLY_LIB_RECORDS_H
#define NUMTALLY_LIB_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tallyf-list.h"

enum class tally_format_t : uint8_t { report, tsv, csv, json };

// How a report is laid out (run-options.h holds one per run).
struct tally_layout_t {
    tally_format_t format = tally_format_t::report;
    bool long_rows = false;     // one record per result
    int digits = 0;             // significant digits, 1 to 17; 0: the default
    // Per record of the list: the function as the command line gave it, with
    // its parameter ("quantile 4"); null: the word of its stored code.
    const std::string *words = nullptr;
};

// Appends text to out as a tab-separated field holds it: tab, line feed,
// carriage return and backslash as \t, \n, \r and \\.
void tally_tsv_escape(std::string_view text, std::string *out);

// Writes x with digits significant digits as "%.*g" writes it, or, when
// digits is 0, as the shortest text that reads back as x ("nan", "inf",
// "-inf" for the others).  buf holds at least 40 bytes; returns the length.
size_t tally_format_double(double x, int digits, char *buf);

struct tally_printer_t;

class tally_records_t {
public:
    // key_names: the names of the key columns, in order (none: a plain run).
    // header: the header line's fields, or null; they name the columns the
    // results are of.
    tally_records_t(const tally_layout_t &layout, const tallyf_list_t *list,
                    std::vector<std::string> key_names,
                    const std::vector<std::string> *header);
    tally_records_t(const tally_records_t &) = delete;
    tally_records_t &operator=(const tally_records_t &) = delete;

    // A group's record (a plain run: the one record) starts; its keys are
    // encoded as the key table holds them (one field as it stands, or each
    // field after its 4-byte length).  Records go to out.
    void begin(FILE *out, std::string_view key, int nkeys);
    // A run without records: the header line alone, written at end() (the
    // results handed over until then name the wide columns; no row).
    void begin_names(FILE *out);
    // The results that follow are record i's of the list, printed by p.
    void request(int i, const tally_printer_t &p);
    // The group's record ends: written out (a wide one; long ones are
    // written as they come).
    void end();

    // The results, as the printer hands them over.
    void number(const char *label, double x);
    void count(const char *label, uint64_t n);
    void text(const char *label, const char *text);
    void interval(const char *label, double low, double high);
    void listed(double value, double z, double cdf);
    // A table's row (frequency, top, histogram): "NAME(K)" for each of the
    // k results, K counting the rows of the record's table from 1.
    void table_row(const char *const *names, const double *values,
                   const bool *is_count, int k);
    // A line of text that is no result (a warning): kept for the notices.
    void note(const char *text);

    // What the report said beside its results, one line each.
    const std::string &notes() const { return notes_; }

private:
    void name(std::string_view label, const char *suffix);
    // A result's value: text (escaped or quoted as the format has it), a
    // string in JSON when quoted, else a number as it stands.
    void value(const char *label, const char *suffix, bool quoted,
               std::string_view text);
    void field(std::string_view text, bool quoted_text, std::string *out) const;
    void write_header();
    void flush_if_big();
    void unique_names();

    tally_layout_t layout_;
    const tallyf_list_t *list_;
    std::vector<std::string> key_names_;
    const std::vector<std::string> *header_;
    std::vector<std::string> targets_;  // per record: wide column prefix
    std::vector<std::string> long_targets_; // per record: "col X"
    char sep_;
    FILE *out_ = nullptr;
    bool started_ = false;      // the header line is written
    bool naming_ = true;        // the first record: columns get names
    bool names_only_ = false;   // begin_names: no row
    std::vector<std::string> names_;    // the wide columns, keys first
    std::string keys_;          // this record's key fields, formatted
    std::string row_;           // what is still to be written
    std::string lead_;          // a long record's fields before statistic
    int current_ = 0;
    uint64_t position_ = 0;     // of a listed value in its column
    std::string notes_;
    std::string note_prefix_;   // this record's key fields, TSV, a TAB each
    std::string scratch_;
    size_t column_ = 0;         // of the wide record's next value
    std::vector<std::string> json_keys_;  // per wide column: "NAME":
    // The first wide JSON record: its key and values, until its names are
    // sure.
    std::string first_key_;
    int first_nkeys_ = 0;
    std::vector<std::pair<std::string, bool>> pending_;
};

#endif
