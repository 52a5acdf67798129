// Filling errors.
#include "tally-error.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <new>

#include <sysexits.h>

#include "xt.h"

bool tally_fail(tally_error_t *err, int status, std::string message)
{
    err->status = status;
    err->usage = false;
    err->message = std::move(message);
    err->in_quotes = false;
    return false;
}

bool tally_fail_io(tally_error_t *err, const char *what, int errnum)
{
    std::string m = "numtally: ";
    m += what;
    m += ": ";
    m += std::strerror(errnum != 0 ? errnum : EIO);
    m += '\n';
    return tally_fail(err, EX_IOERR, std::move(m));
}

bool tally_fail_nomem(tally_error_t *err)
{
    err->status = EX_OSERR;
    err->usage = false;
    try {
        err->message = XT_NOMEM_MESSAGE;
    } catch (const std::bad_alloc &) {
        err->message.clear(); // the status says it: see tally_error_message
    }
    return false;
}

const char *tally_error_message(const tally_error_t &err)
{
    if (err.message.empty() && err.status == EX_OSERR)
        return XT_NOMEM_MESSAGE;
    return err.message.c_str();
}

bool tally_fail_usage(tally_error_t *err, std::string message)
{
    tally_fail(err, EX_USAGE, std::move(message));
    err->usage = true;
    return false;
}
