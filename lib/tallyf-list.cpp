// The function list: command-line functions in, one pass over the input, the
// report out.
#include "tallyf-list.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sysexits.h>

#include "parse-number.h"
#include "xt-dsv.h"
#include "xt.h"

namespace {

constexpr size_t FIRST_ARRAY = 1024;

[[noreturn]] void fail_io(const char *what, int err)
{
    std::fprintf(stderr, "numtally: %s: %s\n", what,
                 std::strerror(err != 0 ? err : EIO));
    std::exit(EX_IOERR);
}

bool is_z_scores(const tallyf_t &tf)
{
    return tf.code == TALLYF_POP_Z_SCORES || tf.code == TALLYF_SAMPLE_Z_SCORES;
}

// ---- Adding functions ----------------------------------------------------

[[noreturn]] void refuse_arg(const char *format, const char *arg)
{
    std::fprintf(stderr, format, arg);
    std::exit(EX_USAGE);
}

// ---- The pass --------------------------------------------------------------

// The records that want one row or one column: indexes into the list, in
// list order.
struct Group {
    uint64_t number;      // the row or column; UINT64_MAX ends a table
    const int *first;
    const int *last;
};

// Who wants which rows and columns, worked out once before the pass so that
// the cost per field does not grow with the number of functions: groups by
// ascending number, each table ended by a group that no number reaches.
struct Selection {
    int row_records[TALLYF_LIST_MAX];
    int col_records[TALLYF_LIST_MAX];
    Group rows[TALLYF_LIST_MAX + 1];
    Group cols[TALLYF_LIST_MAX + 1];
};

// Groups the records whose number (row or column, 0 for none) is given by
// number_of into groups, ended by the sentinel.
template <class NumberOf>
void group_records(const tallyf_list_t *list, NumberOf number_of,
                   int *records, Group *groups)
{
    int n = 0;
    for (int i = 0; i < list->count; ++i)
        if (number_of(list->functions[i]) != 0)
            records[n++] = i;
    // By number, list order kept among equals: an insertion sort, at most
    // 64 records and no allocation.
    for (int i = 1; i < n; ++i) {
        const int r = records[i];
        const uint32_t key = number_of(list->functions[r]);
        int j = i;
        for (; j > 0 && number_of(list->functions[records[j - 1]]) > key; --j)
            records[j] = records[j - 1];
        records[j] = r;
    }
    int g = 0;
    for (int i = 0; i < n;) {
        const uint32_t number = number_of(list->functions[records[i]]);
        int j = i;
        while (j < n && number_of(list->functions[records[j]]) == number)
            ++j;
        groups[g++] = {number, records + i, records + j};
        i = j;
    }
    groups[g] = {UINT64_MAX, records + n, records + n};
}

void select_fields(const tallyf_list_t *list, Selection *sel)
{
    group_records(list, [](const tallyf_t &tf) { return tf.row; },
                  sel->row_records, sel->rows);
    group_records(list, [](const tallyf_t &tf) { return tf.col; },
                  sel->col_records, sel->cols);
}

// Where the pass stands: the current row and column, the records that want
// the current row, and the next column of the line that some record wants.
class Cursor {
public:
    explicit Cursor(const Selection &sel)
        : row_group_(sel.rows), cols_(sel.cols), col_group_(sel.cols)
    {
        start_row();
    }

    uint64_t row() const { return row_; }
    uint64_t col() const { return col_; }

    // The records that want the current row (none: an empty group).
    const Group &row_records() const { return *row_here_; }
    bool row_wanted() const { return row_here_ != nullptr; }

    // The next wanted column of the line, UINT64_MAX when there is none.
    uint64_t next_wanted_col() const { return col_group_->number; }
    bool col_wanted() const { return col_group_->number == col_; }
    // The records that want the current column (col_wanted() must hold);
    // the cursor then looks for the next wanted column.
    const Group &take_col_records() { return *col_group_++; }

    void next_col(uint64_t by = 1) { col_ += by; }

    void next_line()
    {
        ++row_;
        col_ = 1;
        col_group_ = cols_;
        start_row();
    }

private:
    void start_row()
    {
        while (row_group_->number < row_)
            ++row_group_;
        row_here_ = row_group_->number == row_ ? row_group_ : nullptr;
    }

    uint64_t row_ = 1;
    uint64_t col_ = 1;
    const Group *row_group_;        // first group at or after this row
    const Group *row_here_ = nullptr; // the group of this row, if any
    const Group *const cols_;
    const Group *col_group_;        // first group at or after this column
};

// Gives quantile records their first array and makes sure every z-score
// record has its temporary file, before a byte of input is read.
void prepare_records(tallyf_list_t *list)
{
    for (int i = 0; i < list->count; ++i) {
        tallyf_t &tf = list->functions[i];
        if (tallyf_keeps_values(tf.code)) {
            tf.nums = static_cast<double *>(
                xt_malloc(FIRST_ARRAY, sizeof(double)));
            tf.array_size = FIRST_ARRAY;
        } else if (is_z_scores(tf)) {
            // The file is made now, before any input is read, so that a
            // run that cannot keep its values says so at once.
            if (tf.tmp_file == nullptr)
                tf.tmp_file = tallyf_tmpfile();
            if (tf.tmp_file == nullptr ||
                tallyf_tmpfile_back(tf.tmp_file) != 0)
                fail_io("cannot create temporary file", errno);
        }
    }
}

// The value of a selected field; a field that is not a number ends the run.
// A field longer than the field limit is never converted from its prefix.
inline double field_value(xt_dsv_reader_t *in, const char *field, size_t len,
                          const Cursor &at)
{
    double v;
    if (len <= XT_DSV_FIELD_MAX) {
        if (parse_short_decimal(field, len, &v))
            return v;
        if (parse_field_double(xt_dsv_reader_text(in, field, len), len, &v))
            return v;
    }
    const char *text = xt_dsv_reader_text(in, field, len);
    std::fprintf(stderr, "%s: %s: row %" PRIu64 ", col %" PRIu64 "\n",
                 parse_field_overflows(text, len) ? "Number too large for a double"
                                                  : "Invalid number",
                 text, at.row(), at.col());
    std::exit(EX_DATAERR);
}

// The pass: every field of the input in order, each wanted one converted
// once and fed to the records that want it.  Without the echo, a line is
// read only as far as some record wants it.
void read_pass(tallyf_list_t *list, const Selection &sel, FILE *stream,
               const char *delims, bool verbose)
{
    static xt_dsv_reader_t in;
    xt_dsv_pos_t pos = xt_dsv_reader_open(&in, stream, delims, 0);
    Cursor at(sel);
    for (;;) {
        if (!verbose && !at.row_wanted()) {
            const uint64_t want = at.next_wanted_col();
            if (want == UINT64_MAX) {
                // Nothing more in this line is wanted.
                if (xt_dsv_reader_skip_line(&in, &pos) == -1)
                    break;
                at.next_line();
                continue;
            }
            if (want > at.col()) {
                size_t skipped;
                const int e = xt_dsv_reader_skip_fields(
                    &in, &pos, want - at.col(), &skipped);
                if (e == -1)
                    break;
                if (e == '\n') {
                    at.next_line();
                    continue;
                }
                at.next_col(skipped);
            }
        }
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(&in, &pos, &field, &len);
        if (end == -1)
            break;
        // An empty line is a row without fields.
        if (end != '\n' || at.col() != 1 || len != 0) {
            if (verbose)
                std::printf("%8s", xt_dsv_reader_text(&in, field, len));
            const bool col_wanted = at.col_wanted();
            if (at.row_wanted() || col_wanted) {
                const double v = field_value(&in, field, len, at);
                if (at.row_wanted()) {
                    const Group &g = at.row_records();
                    for (const int *i = g.first; i != g.last; ++i)
                        tallyf_process_val(&list->functions[*i], v);
                }
                if (col_wanted) {
                    const Group &g = at.take_col_records();
                    for (const int *i = g.first; i != g.last; ++i) {
                        tallyf_t *tf = &list->functions[*i];
                        if (tf->row == 0 || tf->row != at.row())
                            tallyf_process_val(tf, v); // once per record
                    }
                }
            }
        }
        if (end != '\n') {
            at.next_col();
            continue;
        }
        if (verbose)
            std::putchar('\n');
        at.next_line();
    }
    if (in.error != 0 || std::ferror(stream))
        fail_io("read error", in.error != 0 ? in.error : errno);
}

// ---- The report ------------------------------------------------------------

// Checks that a z-score record's file holds every value it was fed, so that
// a listing is never printed short.
void check_tmp_file(const tallyf_t &tf)
{
    FILE *f = tf.tmp_file;
    if (f == nullptr) {
        if (tf.num_count != 0)
            fail_io("temporary file", ENOENT);
        return;
    }
    errno = 0;
    if (std::fflush(f) != 0 || std::ferror(f))
        fail_io("cannot write temporary file", errno);
    uint64_t size;
    if (tallyf_tmpfile_size(f, &size) != 0)
        fail_io("temporary file", errno);
    if (size != tf.num_count * sizeof(double))
        fail_io("cannot write temporary file", ENOSPC);
}

void z_listing(tallyf_t *tf, const char *label, uint32_t num, double mean,
               double sd)
{
    std::printf("%s %u z-scores:\n%16s %16s %16s\n", label, num, "Val",
                "z-score", "CDF = P(x < Val)");
    FILE *f = tf->tmp_file;
    if (f == nullptr)
        return; // no values: checked before the report began
    std::rewind(f);
    double chunk[512];
    uint64_t seen = 0;
    size_t got;
    while ((got = std::fread(chunk, sizeof(double), 512, f)) != 0) {
        for (size_t i = 0; i < got; ++i) {
            const double x = chunk[i];
            std::printf("%16f %16f %16f\n", x, z_score(x, mean, sd),
                        normal_cdf(x, mean, sd));
        }
        seen += got;
    }
    if (std::ferror(f) || seen != tf->num_count)
        fail_io("cannot read temporary file", errno);
}

// ---- Blocks: each computes its numbers, then prints them ------------------

struct population_t {
    double ss, var, sd, mean;
};

population_t population_of(const tallyf_t *tf)
{
    population_t p;
    p.ss = tallyf_sum_squares(tf);
    p.var = p.ss / static_cast<double>(tf->num_count);
    p.sd = std::sqrt(p.var);
    p.mean = tallyf_mean(tf);
    return p;
}

void print_population(const population_t &p, const char *label, uint32_t num)
{
    std::printf("%s %u sum-squares    %f\n", label, num, p.ss);
    std::printf("%s %u pop-var        %f\n", label, num, p.var);
    std::printf("%s %u pop-SD         %f\n", label, num, p.sd);
    std::printf("%s %u pop-mean       %f\n", label, num, p.mean);
}

struct sample_t {
    double ss, var, sd, se, mean, ci_low, ci_high;
};

sample_t sample_of(const tallyf_t *tf)
{
    sample_t s;
    const double n = static_cast<double>(tf->num_count);
    s.ss = tallyf_sum_squares(tf);
    s.var = s.ss / static_cast<double>(tf->num_count - 1);
    s.sd = std::sqrt(s.var);
    s.se = s.sd / std::sqrt(n);
    s.mean = tallyf_mean(tf);
    tallyf_mean_interval(tf, s.se + s.se, &s.ci_low, &s.ci_high);
    return s;
}

void print_sample(const sample_t &s, const char *label, uint32_t num)
{
    std::printf("%s %u sum-squares       %f\n", label, num, s.ss);
    std::printf("%s %u sample-var        %f\n", label, num, s.var);
    std::printf("%s %u sample-SD         %f\n", label, num, s.sd);
    std::printf("%s %u sample-SE         %f\n", label, num, s.se);
    std::printf("%s %u sample-mean       %f\n", label, num, s.mean);
    std::printf("%s %u mean 95%%-CI-2SE   (%f, %f)\n", label, num,
                s.ci_low, s.ci_high);
}

void print_number(const char *label, uint32_t num, const char *name,
                  const tallyf_number_t &x)
{
    char text[400];
    tallyf_format_number(&x, text, sizeof text);
    std::printf("%s %u %-14s %s\n", label, num, name, text);
}

void print_range(const tallyf_t *tf, const char *label, uint32_t num)
{
    const tallyf_number_t range = tallyf_range(tf);
    std::printf("%s %u low            %f\n", label, num, tf->low);
    std::printf("%s %u high           %f\n", label, num, tf->high);
    print_number(label, num, "range", range);
}

void print_mode(tallyf_t *tf, const char *label, uint32_t num)
{
    tallyf_sort(tf);
    const tallyf_mode_t mode = tallyf_mode(tf);
    std::printf("%s %u mode           %f\n", label, num, mode.value);
    std::printf("%s %u mode-count     %" PRIu64 "\n", label, num, mode.count);
}

void print_iq_range(tallyf_t *tf, const char *label, uint32_t num)
{
    tallyf_sort(tf);
    print_number(label, num, "iq-range", tallyf_iq_range(tf));
}

constexpr size_t PLOT_WIDTH = 60;

void print_box_plot(tallyf_t *tf, const char *label, uint32_t num)
{
    tallyf_quantiles(tf, label, num); // the quartile lines; leaves them sorted
    const tallyf_box_t box = tallyf_box(tf);
    char plot[PLOT_WIDTH + 1];
    const bool drawn = tallyf_box_draw(tf, &box, plot, PLOT_WIDTH);
    print_number(label, num, "iq-range", box.iqr);
    print_number(label, num, "lower-fence", box.lower_fence);
    print_number(label, num, "upper-fence", box.upper_fence);
    std::printf("%s %u lower-whisker  %f\n", label, num, box.lower_whisker);
    std::printf("%s %u upper-whisker  %f\n", label, num, box.upper_whisker);
    std::printf("%s %u outliers       %" PRIu64 "\n", label, num, box.outliers);
    if (drawn)
        std::printf("%s %u plot           %s\n", label, num, plot);
    else
        std::printf("%s %u plot           (none: %s)\n", label, num, plot);
}

void print_chi_sq_fit(const tallyf_t *tf, const char *label, uint32_t num)
{
    const tallyf_chi_sq_t c = tallyf_chi_sq_fit(tf);
    std::printf("%s %u chi-sq         %f\n", label, num, c.statistic);
    if (std::isnan(c.df))
        std::printf("%s %u df             %f\n", label, num, c.df);
    else
        std::printf("%s %u df             %" PRIu64 "\n", label, num,
                    tf->num_count - 1);
    std::printf("%s %u P(>chi-sq)     %f\n", label, num, c.p);
}

// The report of one record: which block each code prints, in one place.
// Codes outside the table (median and quartile never stand in the list;
// chi-sq-ind is refused on the command line) print nothing.
void report_record(tallyf_t *tf)
{
    const char *label = tf->row != 0 ? "Row" : "Col";
    const uint32_t num = tf->row != 0 ? tf->row : tf->col;
    switch (tf->code) {
    case TALLYF_QUANTILE:
        tallyf_quantiles(tf, label, num);
        break;
    case TALLYF_MEAN:
        std::printf("%s %u mean           %f\n", label, num, tallyf_mean(tf));
        break;
    case TALLYF_POP_VAR:
    case TALLYF_POP_SD:
        print_population(population_of(tf), label, num);
        break;
    case TALLYF_POP_Z_SCORES: {
        const population_t p = population_of(tf);
        print_population(p, label, num);
        z_listing(tf, label, num, p.mean, p.sd);
        break;
    }
    case TALLYF_SAMPLE_VAR:
    case TALLYF_SAMPLE_SD:
    case TALLYF_SAMPLE_SE:
        print_sample(sample_of(tf), label, num);
        break;
    case TALLYF_SAMPLE_Z_SCORES: {
        const sample_t s = sample_of(tf);
        print_sample(s, label, num);
        if (tf->num_count <= 29) {
            std::puts("Warning: Sample size is < 30.");
            std::puts("You may want to use a t-distribution instad.");
        }
        z_listing(tf, label, num, s.mean, s.sd);
        break;
    }
    case TALLYF_SAMPLE_T_SCORE: {
        const sample_t s = sample_of(tf);
        print_sample(s, label, num);
        std::printf("%s %u t-score           %f\n", label, num,
                    t_score(static_cast<uint32_t>(tf->num_count), s.mean,
                            tf->expected_mean, s.sd));
        break;
    }
    case TALLYF_MODE:
        print_mode(tf, label, num);
        break;
    case TALLYF_RANGE:
        print_range(tf, label, num);
        break;
    case TALLYF_IQ_RANGE:
        print_iq_range(tf, label, num);
        break;
    case TALLYF_BOX_PLOT:
        print_box_plot(tf, label, num);
        break;
    case TALLYF_CHI_SQ_FIT:
        print_chi_sq_fit(tf, label, num);
        break;
    default:
        break;
    }
}

// Counts for chi-sq-fit must be finite and not negative; checked for every
// record before the first report line, so that a refused run prints none.
void check_counts(const tallyf_t &tf)
{
    double bad;
    if (tf.code == TALLYF_CHI_SQ_FIT && !tallyf_counts_valid(&tf, &bad)) {
        std::fprintf(stderr, "Invalid count for chi-sq-fit: %g: %s %u\n", bad,
                     tf.row != 0 ? "row" : "col", tf.row != 0 ? tf.row : tf.col);
        std::exit(EX_DATAERR);
    }
}

} // namespace

void tallyf_list_init(tallyf_list_t *list)
{
    list->count = 0;
    for (tallyf_t &tf : list->functions)
        tallyf_init(&tf);
}

int tallyf_list_add_func(tallyf_list_t *list, tallyf_code_t code, int *arg,
                         int argc, char *argv[])
{
    if (list->count >= TALLYF_LIST_MAX) {
        std::fprintf(stderr, "Error: Maximum functions for one run is %u.\n",
                     static_cast<unsigned>(TALLYF_LIST_MAX));
        std::exit(EX_USAGE);
    }
    tallyf_t *tf = &list->functions[list->count];
    tf->code = code;
    int i = *arg;

    switch (code) {
    case TALLYF_CHI_SQ_IND:
        refuse_arg("%s: a test of independence needs a table of several rows "
                   "and columns, which one row or column cannot give\n",
                   argv[i]);
    case TALLYF_QUANTILE:
        if (++i >= argc)
            usage(argv);
        if (!parse_uint32_arg(argv[i], &tf->partitions))
            refuse_arg("Invalid quantile partition count: %s\n", argv[i]);
        break;
    case TALLYF_MEDIAN:
        tf->code = TALLYF_QUANTILE;
        tf->partitions = 2;
        break;
    case TALLYF_QUARTILE:
        tf->code = TALLYF_QUANTILE;
        tf->partitions = 4;
        break;
    case TALLYF_IQ_RANGE:
    case TALLYF_BOX_PLOT:
        tf->partitions = 4; // built on the quartiles
        break;
    case TALLYF_SAMPLE_T_SCORE: {
        if (++i >= argc)
            usage(argv);
        char *end;
        tf->expected_mean = std::strtod(argv[i], &end);
        if (*end != '\0')
            refuse_arg("Invalid expected mean: %s\n", argv[i]);
        break;
    }
    default:
        break;
    }

    if (i + 2 >= argc)
        usage(argv);
    uint32_t number;
    if (!parse_uint32_arg(argv[i + 2], &number))
        refuse_arg("Invalid row/col: %s\n", argv[i + 2]);
    if (std::strcmp(argv[i + 1], "--row") == 0) {
        tf->row = number;
        tf->col = 0;
    } else if (std::strcmp(argv[i + 1], "--col") == 0) {
        tf->row = 0;
        tf->col = number;
    } else {
        usage(argv);
    }
    ++list->count;
    *arg = i + 2;
    return 0;
}

int tallyf_list_process_stream(tallyf_list_t *list, FILE *stream,
                               const char *delims, int32_t flags)
{
    prepare_records(list);
    static Selection sel;
    select_fields(list, &sel);
    read_pass(list, sel, stream, delims, (flags & TALLYF_LIST_VERBOSE) != 0);

    // Every listing's values are accounted for, and every count is valid,
    // before any line is printed.
    for (int i = 0; i < list->count; ++i) {
        if (is_z_scores(list->functions[i]))
            check_tmp_file(list->functions[i]);
        check_counts(list->functions[i]);
    }
    for (int i = 0; i < list->count; ++i)
        report_record(&list->functions[i]);
    return 0;
}
