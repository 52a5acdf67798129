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

#include <sys/stat.h>
#include <sysexits.h>

#include "parse-number.h"
#include "xt.h"

namespace {

constexpr size_t FIELD_SIZE = 4096;
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

// (row or column number, record index), sorted by number, then list order.
struct Wanted {
    using const_iterator = const std::pair<uint32_t, int> *;
    std::pair<uint32_t, int> items[TALLYF_LIST_MAX];
    int count = 0;

    void emplace_back(uint32_t number, int index)
    {
        items[count++] = {number, index};
    }
    const_iterator begin() const { return items; }
    const_iterator end() const { return items + count; }
    bool empty() const { return count == 0; }
};

// Who wants which rows and columns, worked out once before the pass so that
// the cost per field does not grow with the number of functions.
struct Selection {
    Wanted by_row;
    Wanted by_col;
};

Selection select_fields(const tallyf_list_t *list)
{
    Selection sel;
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &tf = list->functions[i];
        if (tf.row != 0)
            sel.by_row.emplace_back(tf.row, i);
        if (tf.col != 0)
            sel.by_col.emplace_back(tf.col, i);
    }
    std::sort(sel.by_row.items, sel.by_row.items + sel.by_row.count);
    std::sort(sel.by_col.items, sel.by_col.items + sel.by_col.count);
    return sel;
}

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
        } else if (is_z_scores(tf) && tf.tmp_file == nullptr) {
            // Try once more now that the file is needed: this attempt
            // also tells why it cannot be made.
            tf.tmp_file = tallyf_tmpfile();
            if (tf.tmp_file == nullptr)
                fail_io("cannot create temporary file", errno);
        }
    }
}

double field_value(const char *field, size_t len, uint64_t row, uint64_t col)
{
    double v;
    // A field longer than the buffer is never converted from its prefix.
    if (len >= FIELD_SIZE || !parse_padded_field_double(field, len, &v)) {
        std::fprintf(stderr,
                     "Invalid number: %s: row %" PRIu64 ", col %" PRIu64 "\n",
                     field, row, col);
        std::exit(EX_DATAERR);
    }
    return v;
}

void read_pass(tallyf_list_t *list, const Selection &sel, FILE *stream,
               const char *delims, bool verbose)
{
    using It = Wanted::const_iterator;
    // Cleared once: conversions may read a few bytes past a short field.
    char field[FIELD_SIZE] = {};
    size_t len = 0;
    uint64_t row = 1;
    uint64_t col = 1;

    // The tables' bounds, held here rather than read back after every call.
    const It rows_end = sel.by_row.end();
    const It cols_begin = sel.by_col.begin();
    const It cols_end = sel.by_col.end();

    // Records of the current row: [row_first, row_last).
    It next_row = sel.by_row.begin();
    It row_first = next_row;
    It row_last = next_row;
    const auto start_row = [&] {
        while (next_row != rows_end && next_row->first < row)
            ++next_row;
        row_first = row_last = next_row;
        while (row_last != rows_end && row_last->first == row)
            ++row_last;
    };
    // Columns are visited in order, so one cursor finds each wanted one.
    It next_col = cols_begin;
    start_row();

    // Without the echo, a line is read only as far as some record wants it:
    // the rest of it, or all of it, is passed over in one go.
    const bool lines_skippable = !verbose;
    const bool no_columns = sel.by_col.empty();

    for (;;) {
        if (lines_skippable && row_first == row_last) {
            if (no_columns) {
                // Nothing in this line is wanted.
                if (xt_dsv_skip_line(stream) == -1)
                    break;
                ++row;
                start_row();
                continue;
            }
            if (next_col != cols_end && next_col->first > col) {
                // Pass over the fields before the next wanted column.
                size_t skipped;
                const int e = xt_dsv_skip_fields(
                    stream, delims, next_col->first - col, &skipped);
                if (e == -1)
                    break; // only at the start of a line: the input is over
                if (e == '\n') {
                    ++row;
                    col = 1;
                    start_row();
                    next_col = cols_begin;
                    continue;
                }
                col += skipped;
            }
        }
        const int end =
            xt_dsv_read_field(stream, field, FIELD_SIZE, delims, &len);
        if (end == -1)
            break;
        // An empty line is a row without fields.
        const bool empty_line = end == '\n' && col == 1 && len == 0;
        if (!empty_line) {
            if (verbose)
                std::printf("%8s", field);
            const bool col_wanted =
                next_col != cols_end && next_col->first == col;
            if (row_first != row_last || col_wanted) {
                const double v = field_value(field, len, row, col);
                for (It p = row_first; p != row_last; ++p)
                    tallyf_process_val(&list->functions[p->second], v);
                for (; next_col != cols_end && next_col->first == col;
                     ++next_col) {
                    tallyf_t *tf = &list->functions[next_col->second];
                    if (tf->row != 0 && tf->row == row)
                        continue; // fed above: one field, once per record
                    tallyf_process_val(tf, v);
                }
            }
        }
        if (end != '\n' && lines_skippable && row_first == row_last &&
            next_col == cols_end) {
            // No record wants a later field of this line.
            xt_dsv_skip_line(stream);
        } else if (end != '\n') {
            ++col;
            continue;
        }
        ++row;
        col = 1;
        if (verbose)
            std::putchar('\n');
        start_row();
        next_col = cols_begin;
    }
    if (std::ferror(stream))
        fail_io("read error", errno);
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
    struct stat st;
    if (fstat(fileno(f), &st) != 0)
        fail_io("temporary file", errno);
    if (static_cast<uint64_t>(st.st_size) != tf.num_count * sizeof(double))
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
    double ss, var, sd, se, mean;
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
                s.mean - (s.se + s.se), (s.se + s.se) + s.mean);
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
        std::printf("%s %u plot           (none: %s)\n", label, num,
                    tf->num_count == 0 ? "no values"
                                       : "not every value is finite");
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
    const Selection sel = select_fields(list);
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
