// Fuzz target: the pass over the input.  A fixed set of functions, quantiles
// and z-score listings among them, over arbitrary input bytes read with an
// arbitrary delimiter set.
//
// Input layout:
//   byte 0   bit 0: verbose echo; bits 1-3: the stream's buffer size (0 is
//            stdio's default, otherwise 1, 2, 3, 5, 8, 64 or 4096 bytes, so
//            that fields and line ends straddle buffer refills)
//   byte 1   bits 0-2: length of the delimiter set; bit 3: use the default
//            set " \t" instead; bits 4-5: group by nothing, column 1,
//            columns 3 and 1, or column 2 (the row functions left out)
//   then     the delimiter set (stops at a NUL byte like any C string)
//   rest     standard input
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
    "chi-sq-ind", "--row", "2",
    "quantile", "0", "--col", "3",
    "quantile", "1", "--row", "2",
    "quantile", "1000", "--col", "1",
};

const size_t kBufferSizes[] = {0, 1, 2, 3, 5, 8, 64, 4096};

tallyf_list_t list;

} // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quiet_std_streams();
    if (size < 2)
        return 0;
    const bool verbose = data[0] & 1;
    const size_t buffer_size = kBufferSizes[(data[0] >> 1) & 7];
    const size_t delims_len = data[1] & 7;
    const int grouping = (data[1] >> 4) & 3;
    if (size < 2 + delims_len)
        return 0;
    const std::string delims =
        data[1] & 8 ? std::string(" \t")
                    : std::string(reinterpret_cast<const char *>(data + 2),
                                  delims_len)
                          .c_str(); // up to the first NUL, as argv has it
    const uint8_t *in = data + 2 + delims_len;
    const size_t in_size = size - 2 - delims_len;

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
    for (const char *a : kArgs)
        argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size()) - 1;

    run_program([&] {
        tallyf_list_init(&list);
        tally_error_t err;
        for (int arg = 1; arg < argc; ++arg)
            if (const tally_function_t *f = tally_function_by_word(argv[arg]))
                if (!tally_add_request(&list, f->code, &arg, argc,
                                       argv.data(), &err))
                    return err.status;
                else if (grouping != 0 &&
                         list.functions[list.count - 1].row != 0)
                    --list.count; // refused in a grouped run
        tally_run_options_t options;
        static const uint32_t kKeys[4][2] = {{0, 0}, {1, 0}, {3, 1}, {2, 0}};
        options.nby = grouping == 0 ? 0 : grouping == 2 ? 2 : 1;
        options.by[0] = kKeys[grouping][0];
        options.by[1] = kKeys[grouping][1];
        options.delims = delims.c_str();
        options.verbose = verbose;
        const bool ok = tally_run(&list, stream, options, &err);
        std::fflush(stdout);
        return ok ? 0 : err.status;
    });
    std::fclose(stream);
    return 0;
}
