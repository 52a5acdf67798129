// The function list's entry points: each built on the calls that return
// their errors (request.h, tallyf-list-run.h), and ending the process on an
// error as callers of these entry points rely on.
#include "tallyf-list.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "request.h"
#include "tallyf-list-run.h"

namespace {

[[noreturn]] void end_with(const tally_error_t &err, char *argv[])
{
    std::fputs(tally_error_message(err), stderr);
    if (err.usage)
        usage(argv);
    std::exit(err.status);
}

} // namespace

int tallyf_list_add_func(tallyf_list_t *list, tallyf_code_t code, int *arg,
                         int argc, char *argv[])
{
    tally_error_t err;
    bool added;
    try {
        added = tally_add_request(list, code, arg, argc, argv, &err);
    } catch (const std::bad_alloc &) {
        added = tally_fail_nomem(&err);
    }
    if (!added)
        end_with(err, argv);
    return 0;
}

int tallyf_list_process_stream(tallyf_list_t *list, FILE *stream,
                               const char *delims, int32_t flags)
{
    tally_run_options_t options;
    options.delims = delims;
    options.verbose = (flags & TALLYF_LIST_VERBOSE) != 0;
    tally_error_t err;
    if (!tally_run(list, stream, options, &err))
        end_with(err, nullptr);
    return 0;
}
