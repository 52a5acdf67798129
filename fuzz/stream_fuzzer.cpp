// Fuzz target: the pass over the input.  A fixed set of functions, quantiles
// and z-score listings among them, over arbitrary input bytes read with an
// arbitrary delimiter set.
//
// Input layout:
//   byte 0   bit 0: verbose echo; bits 1-3: the stream's buffer size (0 is
//            stdio's default, otherwise 1, 2, 3, 5, 8, 64 or 4096 bytes, so
//            that fields and line ends straddle buffer refills); bits 4-5:
//            group by nothing, column 1, columns 3 and 1, or column 2 (the
//            row functions left out)
//   byte 1   bits 0-2: length of the delimiter set; bit 3: use the default
//            set " 	" instead; bit 4: quoted fields (--csv's reading);
//            bit 5: --skip-missing; bit 6: --header
//   then     the delimiter set (stops at a NUL byte like any C string)
//   rest     standard input
//
// Built three more ways (FUZZ_MODE), each taking more of the run from the
// input, after the delimiter set and before standard input:
//   csv_header  quoted fields and a header line always (byte 1's bits 4
//               and 6 set), columns also chosen by the header's names
//               "a" and "b"
//   by          one byte: 1 to 4 key columns (bits 0-1) of a --by list,
//               then one byte each, the column (1 to 8, bits 0-2): lists
//               with repeats and any order
//   cols        a column list as the command line takes it (text up to a
//               NUL, at most 64 bytes), for functions over columns and
//               rows: "mean --col LIST", "median --row LIST",
//               "sample-z-scores --col LIST", "mode --col LIST" (and a
//               covariance of columns 1 and 2 beside them)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "functions.h"
#include "request.h"
#include "tallyf-list-run.h"

namespace {

// The command line whose functions every input is fed to.
const char *const kArgs[] = {
    "numtally",
    "quantile", "7", "--row", "1",
    "median", "--col", "1",
    "quartile", "--col", "2",
    "mean", "--row", "2",
    "pop-var", "--col", "3",
    "pop-SD", "--col", "0",
    "sample-SD", "--row", "1",
    "pop-z-scores", "--col", "1",
    "sample-z-scores", "--row", "2",
    "sample-t-score", "2.5", "--col", "2",
    "sample-var", "--row", "3",
    "sample-SE", "--col", "4",
    "mode", "--col", "1",
    "range", "--row", "3",
    "iq-range", "--col", "2",
    "box-plot", "--row", "1",
    "chi-sq-fit", "--col", "1",
    "quantile", "0", "--col", "3",
    "quantile", "1", "--row", "2",
    "quantile", "1000", "--col", "1",
};

const size_t kBufferSizes[] = {0, 1, 2, 3, 5, 8, 64, 4096};

tallyf_list_t list;

#define FUZZ_MODE_stream 0
#define FUZZ_MODE_csv_header 1
#define FUZZ_MODE_by 2
#define FUZZ_MODE_cols 3
#define FUZZ_MODE_OF(m) FUZZ_MODE_OF2(m)
#define FUZZ_MODE_OF2(m) FUZZ_MODE_##m
#ifndef FUZZ_MODE
#define FUZZ_MODE stream
#endif
constexpr int kMode = FUZZ_MODE_OF(FUZZ_MODE);

// Takes a NUL-terminated text of at most max bytes from the front of
// [*in, *in + *size): false when there is none.
bool take_text(const uint8_t **in, size_t *size, size_t max, std::string *out)
{
    size_t n = 0;
    while (n < *size && n < max && (*in)[n] != 0)
        ++n;
    if (n == *size || n == max)
        return false;
    out->assign(reinterpret_cast<const char *>(*in), n);
    *in += n + 1;
    *size -= n + 1;
    return true;
}

} // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quiet_std_streams();
    if (size < 2)
        return 0;
    const bool verbose = data[0] & 1;
    const size_t buffer_size = kBufferSizes[(data[0] >> 1) & 7];
    const size_t delims_len = data[1] & 7;
    const int grouping = (data[0] >> 4) & 3;
    if (size < 2 + delims_len)
        return 0;
    const std::string delims =
        data[1] & 8 ? std::string(" \t")
                    : std::string(reinterpret_cast<const char *>(data + 2),
                                  delims_len)
                          .c_str(); // up to the first NUL, as argv has it
    const uint8_t *in = data + 2 + delims_len;
    size_t in_size = size - 2 - delims_len;
    uint8_t flags = data[1];
    std::vector<std::string> words(std::begin(kArgs), std::end(kArgs));
    uint32_t keys[TALLY_KEYS_MAX] = {};
    int nkeys = 0;
    if (kMode == FUZZ_MODE_csv_header) {
        flags |= 16 | 64;
        for (const char *w : {"mean", "--col", "a", "median", "--col", "b",
                              "pop-z-scores", "--col", "b"})
            words.push_back(w);
    } else if (kMode == FUZZ_MODE_by) {
        if (in_size == 0)
            return 0;
        nkeys = 1 + (in[0] & 3);
        if (in_size < 1 + static_cast<size_t>(nkeys))
            return 0;
        for (int k = 0; k < nkeys; ++k)
            keys[k] = 1 + (in[1 + k] & 7);
        in += 1 + nkeys;
        in_size -= 1 + nkeys;
    } else if (kMode == FUZZ_MODE_cols) {
        std::string cols;
        if (!take_text(&in, &in_size, 64, &cols))
            return 0;
        words.assign({"numtally", "mean", "--col", cols, "median", "--row",
                      cols, "sample-z-scores", "--col", cols, "mode",
                      "--col", cols, "covariance", "--col", "1", "--col",
                      "2"});
    }

    // The input as a read-only stream, copied so that stdio may not write.
    std::vector<char> input(in, in + in_size);
    FILE *stream = in_size != 0 ? fmemopen(input.data(), in_size, "r")
                                : std::fopen("/dev/null", "r");
    if (stream == nullptr)
        return 0;
    std::vector<char> buffer(buffer_size);
    if (buffer_size != 0)
        std::setvbuf(stream, buffer.data(), _IOFBF, buffer_size);

    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size()) - 1;

    run_program([&] {
        tallyf_list_init(&list);
        tally_error_t err;
        static tally_col_names_t names;
        names = tally_col_names_t{};
        const bool by_name = kMode == FUZZ_MODE_csv_header;
        const bool grouped = grouping != 0 || kMode == FUZZ_MODE_by;
        tally_request_extras_t extras{by_name, names.name};
        for (int arg = 1; arg < argc; ++arg) {
            const tally_function_t *f = tally_function_by_word(argv[arg]);
            if (f == nullptr)
                continue;
            if (!tally_add_request(&list, f->code, &arg, argc, argv.data(),
                                   &err, extras))
                return err.status;
            while (grouped && list.count != 0 &&
                   list.functions[list.count - 1].row != 0)
                --list.count; // refused in a grouped run
        }
        tally_run_options_t options;
        static const uint32_t kKeys[4][2] = {{0, 0}, {1, 0}, {3, 1}, {2, 0}};
        options.nby = grouping == 0 ? 0 : grouping == 2 ? 2 : 1;
        options.by[0] = kKeys[grouping][0];
        options.by[1] = kKeys[grouping][1];
        if (kMode == FUZZ_MODE_by) {
            options.nby = nkeys;
            for (int k = 0; k < nkeys; ++k)
                options.by[k] = keys[k];
        }
        options.delims = delims.c_str();
        options.verbose = verbose;
        options.quotes = (flags & 16) != 0;       // --csv's reading
        options.skip_missing = (flags & 32) != 0;
        options.header = (flags & 64) != 0;
        if (by_name)
            options.names = &names;
        const bool ok = tally_run(&list, stream, options, &err);
        std::fflush(stdout);
        return ok ? 0 : err.status;
    });
    std::fclose(stream);
    return 0;
}
