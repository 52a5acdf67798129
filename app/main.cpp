// numtally: statistics over delimited numbers on standard input, or one-shot
// normal and Student t computations from the command line.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include "chunks.h"
#include "distribution.h"
#include "functions.h"
#include "header.h"
#include "input.h"
#include "options.h"
#include "order-points.h"
#include "request.h"
#include "state-file.h"
#include "suggest.h"
#include "tallyf-list-run.h"
#include "usage.h"
#include "value-counts.h"
#include "value-spill.h"
#include "xt-dsv.h"
#include "xt.h"

namespace {

// A closed standard stream would hand its descriptor to the first file the
// run opens, and the report would land in a temporary file.  Hold each closed
// one with /dev/null opened the wrong way round, so that using it fails.
void hold_closed_std_streams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
                std::_Exit(EX_OSERR);
        }
    }
}

// The report is only a success once it has reached standard output: the
// status, or 74 when the output could not be written.
int finish_output(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "numtally: write error: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return EX_IOERR;
    }
    return status;
}

// "--version": the program's name and version on standard output, status 0.
int show_version()
{
    std::printf("numtally %s\n", NUMTALLY_VERSION);
    return finish_output(0);
}

// An error's message, and the usage text when it calls for it; its status.
// Output the run had already written is still flushed, its errors ignored:
// the error's own status stands.
int end_with(int status)
{
    std::fflush(stdout);
    return status;
}

int report_error(const tally_error_t &err, char *argv[])
{
    std::fputs(tally_error_message(err), stderr);
    if (err.usage)
        print_usage(argv);
    return end_with(err.status);
}

// "--help": the help on standard output, status 0.
int show_help(char *argv[])
{
    print_help(argv);
    return finish_output(0);
}

// Whether --help stands on the line as a word of its own (not as the value
// of an option that takes one).
bool help_asked(int argc, char *argv[])
{
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--help") == 0)
            return true;
        const tally_option_t *o = tally_option_by_word(argv[arg]);
        if (o != nullptr && o->value != nullptr)
            ++arg;
    }
    return false;
}

// A word that names a file (or "-", standard input).
bool names_file(const char *word)
{
    struct stat st;
    return std::strcmp(word, "-") == 0 ||
           (stat(word, &st) == 0 && !S_ISDIR(st.st_mode));
}

// The line that names a word that is neither an option nor a function,
// standing where one of them was expected.
std::string unknown_word(int arg, int argc, char *argv[])
{
    const char *word = argv[arg];
    // The one-shot computations' words, with operands that did not fit
    // them: the usage text shows their forms.
    for (const char *w : {"z-table", "z-score", "normal-cdf", "t-score", "t-cdf", "t-table"})
        if (std::strcmp(word, w) == 0)
            return {};
    if (std::strcmp(word, "--row") == 0 || std::strcmp(word, "--col") == 0)
        return std::string("numtally: '") + word +
               (arg + 1 < argc ? std::string(" ") + argv[arg + 1] : "") +
               "' comes before any function\n";
    if (names_file(word))
        return std::string("numtally: '") + word +
               "' is a file: give it as input, or as a file operand\n";
    std::string m = word[0] == '-' && word[1] != '\0' ? "numtally: unknown option '"
                                                      : "numtally: unknown function '";
    m += word;
    m += '\'';
    const std::string meant = tally_suggest(word);
    if (!meant.empty())
        m += " (did you mean '" + meant + "'?)";
    return m + "\n";
}

// "percentile 0.9" asks for the 0.9th percentile, which is what it gets;
// one line per such word says so and names the one likely meant.
std::string percentile_notes(const tallyf_list_t &list)
{
    std::string notes;
    std::vector<std::string> said;
    for (int i = 0; i < list.count; ++i) {
        const tallyf_t &tf = list.functions[i];
        if (tf.code != TALLYF_PERCENTILE || tf.percentiles == nullptr)
            continue;
        const std::string text = tf.percentiles;
        size_t from = 0;
        for (;;) {
            const size_t comma = text.find(',', from);
            const std::string item = text.substr(
                from, comma == std::string::npos ? std::string::npos
                                                 : comma - from);
            const double p = std::strtod(item.c_str(), nullptr);
            if (p > 0 && p < 1 &&
                std::find(said.begin(), said.end(), item) == said.end()) {
                said.push_back(item);
                char meant[64];
                std::snprintf(meant, sizeof meant, "%.15g", p * 100);
                const double whole = p * 100;
                const long w = static_cast<long>(whole);
                const char *suffix = "th";
                if (whole == static_cast<double>(w) && w % 100 / 10 != 1)
                    suffix = w % 10 == 1 ? "st" : w % 10 == 2 ? "nd"
                           : w % 10 == 3 ? "rd" : "th";
                notes += "numtally: percentile " + item + " is the " + item +
                         "th percentile; the " + meant + suffix +
                         " is percentile " + meant + "\n";
            }
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
    }
    return notes;
}

// What the options mean together, once the whole line is read.
bool finish_options(tally_cli_t *cli, const tallyf_list_t &list,
                    tally_col_names_t &names, tally_error_t *err)
{
    if (cli->run.quotes && !cli->delims_given)
        cli->run.delims = ",";
    for (int i = 0; i < list.count; ++i) {
        for (const std::string *name : {&names.name[i], &names.name2[i]}) {
            if (name->empty())
                continue;
            if (!cli->run.header)
                // "--header" stood on the line only as another word's value.
                return tally_fail(err, EX_USAGE,
                                  "Invalid row/col: " + *name +
                                      " (a column name needs --header)\n");
            cli->run.names = &names;
        }
        if (!names.name2[i].empty() || (list.functions[i].col2 != 0 &&
                                        !names.name[i].empty())) {
            const tallyf_t &tf = list.functions[i];
            names.pair_label[i] =
                (names.name[i].empty() ? std::to_string(tf.col) : names.name[i]) +
                (tf.split ? " by " : ",") +
                (names.name2[i].empty() ? std::to_string(tf.col2) : names.name2[i]);
        }
    }
    if (cli->run.layout.long_rows &&
        cli->run.layout.format == tally_format_t::report)
        return tally_fail(err, EX_USAGE,
                          "--long: needs --format tsv, csv or json\n");
    return true;
}

// The processors this process may run on.
int usable_processors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

// Whether the process's address space or data is limited (ulimit -v): the
// threads' stacks and allocation arenas, the chunks in flight and the
// merge take room that one pass does not, so that a run one pass fits in
// could run out on threads.  Such a run reads in one pass.
bool memory_limited()
{
    for (const int which : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit r;
        if (getrlimit(which, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            return true;
    }
    return false;
}

// A feed that draws the progress line as its chunks are handed out (the
// threads read them where the input's own reads do not see it).
class progress_feed_t final : public tally_chunk_feed_t {
public:
    progress_feed_t(std::unique_ptr<tally_chunk_feed_t> inner,
                    tally_input_t *input, uint64_t from)
        : inner_(std::move(inner)), input_(input), from_(from)
    {
    }
    bool next(size_t want, bool quotes, tally_chunk_t *chunk) override
    {
        if (!inner_->next(want, quotes, chunk))
            return false;
        tally_input_progress(input_, chunk->offset + chunk->size - from_);
        return true;
    }
    void release(const tally_chunk_t &chunk) override
    {
        inner_->release(chunk);
    }

private:
    std::unique_ptr<tally_chunk_feed_t> inner_;
    tally_input_t *input_;
    uint64_t from_;
};

// The run on threads (lib/chunks.h), where it can be: true, with *ran its
// outcome; false where the input is read in one pass as ever.  One pass
// reads: one thread; more than one file (each file's header line and
// rows are checked as it is read, and one that fails must fail where one
// pass reads it); compressed input (decoding is one stream's work, and a
// corrupt stream read ahead would fail where one pass stops before it); a
// regular file under a megabyte (the threads would cost more than they
// save); a limited address space (memory_limited); --verbose and row
// functions (see tally_run_threaded).  From a regular file each thread reads
// its own chunks (pread); anything else (a pipe) is read by one reader that
// hands out blocks of bytes.  NUMTALLY_CHUNK_BYTES, a test hook, sets the chunks' size and
// threads small files too.
bool run_on_threads(tallyf_list_t *list, const tally_run_options_t &options,
                    int threads, const std::vector<const char *> &files,
                    tally_input_t *input, tally_error_t *err,
                    std::string *notes, bool *ran)
{
    if (threads <= 1 || files.size() > 1 || options.verbose ||
        memory_limited())
        return false;
    for (int i = 0; i < list->count; ++i)
        if (tallyf_over_row(&list->functions[i]))
            return false;
    tally_chunk_run_t run;
    run.threads = threads;
    const char *hook = std::getenv("NUMTALLY_CHUNK_BYTES");
    if (hook != nullptr)
        run.chunk_bytes = static_cast<size_t>(std::strtoull(hook, nullptr, 10));
    const bool from_stdin = files.empty() || std::strcmp(files[0], "-") == 0;
    int fd = 0;
    if (!from_stdin) {
        fd = open(files[0], O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false; // the one pass says why
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
        if (!from_stdin)
            close(fd);
        if (!tally_input_plain(input))
            return false;
        // A bigger pipe: fewer turns between the writer and the reader,
        // which share the processors with the threads (no harm where it
        // cannot be had).
        if (from_stdin)
            (void)fcntl(0, F_SETPIPE_SZ, 1 << 20);
        // Blocks that stay in the cache between the reader and the
        // thread that reads them: bigger ones cost more than they save.
        if (run.chunk_bytes == 0)
            run.chunk_bytes = size_t{1} << 20;
        const auto feed = tally_source_feed(tally_input_source(input));
        *ran = tally_run_threaded(list, feed.get(), options, run, err, notes);
        return true;
    }
    const off_t from = from_stdin ? lseek(fd, 0, SEEK_CUR) : 0;
    const uint64_t size =
        from >= 0 && st.st_size > from ? static_cast<uint64_t>(st.st_size - from)
                                       : 0;
    const bool small = size < (uint64_t{1} << 20) && hook == nullptr;
    unsigned char magic[4] = {};
    const bool compressed =
        size >= 2 && pread(fd, magic, sizeof magic, from) >= 2 &&
        ((magic[0] == 0x1f && magic[1] == 0x8b) ||
         (magic[0] == 0x28 && magic[1] == 0xb5 && magic[2] == 0x2f &&
          magic[3] == 0xfd));
    if (size == 0 || small || compressed) {
        if (!from_stdin)
            close(fd);
        return false;
    }
    if (!from_stdin)
        tally_input_read_elsewhere(input);
    if (run.chunk_bytes == 0)
        run.chunk_bytes = static_cast<size_t>(std::clamp<uint64_t>(
            size / (4 * static_cast<uint64_t>(threads)), uint64_t{1} << 20,
            uint64_t{32} << 20));
    progress_feed_t feed(
        tally_file_feed(fd, static_cast<uint64_t>(from), size), input,
        static_cast<uint64_t>(from));
    *ran = tally_run_threaded(list, &feed, options, run, err, notes);
    if (!from_stdin)
        close(fd);
    return true;
}

// What a tabular command line asks for: the functions, the options, the
// file operands, and the words that make the request (every word but
// --state-out's, --threads' and the files, as a state file keeps them).
struct tabular_line_t {
    tallyf_list_t list;
    tally_cli_t cli;
    // Columns by name need --header, which may stand anywhere: without the
    // word on the line a name is refused where it stands, as ever.
    tally_col_names_t names;
    // Each record's function as given, with its parameter: the record
    // layouts name it so.
    std::string words[TALLYF_LIST_MAX];
    std::vector<std::string> request;
    std::vector<std::string> options; // the option words given
};

// Reads the command line strictly from left to right into *t; -1 when it
// is read, else the status to end with (its message printed).
int read_line(int argc, char *argv[], tabular_line_t *t,
              std::vector<const char *> *files)
{
    tallyf_list_t &list = t->list;
    tallyf_list_init(&list);
    tally_cli_t &cli = t->cli;
    cli = tally_cli_t{};
    t->request.clear();
    t->options.clear();
    tally_error_t err;
    tally_col_names_t &names = t->names;
    cli.run.layout.words = t->words;
    tally_request_extras_t extras{false, names.name, names.name2};
    for (int arg = 1; arg < argc; ++arg)
        extras.names_allowed |= std::strcmp(argv[arg], "--header") == 0;
    for (int arg = 1; arg < argc; ++arg) {
        const char *word = argv[arg];
        const tally_option_t *o = tally_option_by_word(word);
        const tally_function_t *f =
            o == nullptr ? tally_function_by_word(word) : nullptr;
        const int from = arg;
        if (!files->empty() && (o != nullptr || f != nullptr)) {
            // The file operands come last.
            tally_fail_usage(&err, std::string("numtally: '") + files->back() +
                                       "' is a file: give it as input, or as "
                                       "a file operand\n");
            return report_error(err, argv);
        }
        if (o != nullptr) {
            if (!o->apply(&cli, &arg, argc, argv, &err)) {
                if (cli.show_version)
                    return show_version();
                return report_error(err, argv);
            }
            t->options.push_back(o->word);
            // Where the state goes, how many threads read and the memory
            // of kept values are no part of the request: parts written
            // either way merge.
            if (o->apply != nullptr &&
                (std::strcmp(o->word, "--state-out") == 0 ||
                 std::strcmp(o->word, "--threads") == 0 ||
                 std::strcmp(o->word, "--memory") == 0))
                continue;
        } else if (f != nullptr) {
            const int first = list.count;
            const bool param = f->param != tally_param_t::none &&
                               f->param != tally_param_t::two_columns &&
                               arg + 1 < argc &&
                               (f->param != tally_param_t::optional_bins ||
                                (std::strcmp(argv[arg + 1], "--row") != 0 &&
                                 std::strcmp(argv[arg + 1], "--col") != 0));
            const std::string given =
                param ? std::string(word) + " " + argv[arg + 1] : word;
            if (!tally_add_request(&list, f->code, &arg, argc, argv, &err,
                                   extras))
                return report_error(err, argv);
            for (int k = first; k < list.count; ++k)
                t->words[k] = given;
        } else if ((list.count != 0 || cli.merge) &&
                   (!files->empty() || names_file(word) || cli.merge ||
                    (tally_suggest(word).empty() && word[0] != '-'))) {
            // After the functions: the files to read, in order.
            files->push_back(word);
            continue;
        } else {
            tally_fail_usage(&err, unknown_word(arg, argc, argv));
            return report_error(err, argv);
        }
        for (int k = from; k <= arg; ++k)
            t->request.push_back(argv[k]);
    }
    if (!finish_options(&cli, list, names, &err))
        return report_error(err, argv);
    return -1;
}

// Whether the line gave one of words (a null-ended list), and which.
const char *given_of(const tabular_line_t &t, const char *const *words)
{
    for (const std::string &o : t.options)
        for (const char *const *w = words; *w != nullptr; ++w)
            if (o == *w)
                return *w;
    return nullptr;
}

// A one-line command-line error (64).
int refuse(const std::string &message, char *argv[])
{
    tally_error_t err;
    tally_fail(&err, EX_USAGE, "numtally: " + message + "\n");
    return report_error(err, argv);
}

// The end of a run that printed its report: the notes after it, also where
// both go to one place.
int finish_report(const tallyf_list_t &list, std::string notes)
{
    notes += percentile_notes(list);
    const int status = finish_output(0);
    if (status == 0)
        std::fputs(notes.c_str(), stderr);
    return status;
}

// --state-out: the pass over the input, the part's state written instead
// of a report (lib/state-file.h); nothing but errors printed.
int run_state_out(char *argv[], tabular_line_t *t,
                  const std::vector<const char *> &files)
{
    static const char *const merge_words[] = {"--format", "--long", "--digits",
                                              nullptr};
    if (const char *w = given_of(*t, merge_words))
        return refuse(std::string("--state-out: ") + w +
                          " is given to the merge (numtally --merge)",
                      argv);
    static const char *const pass_words[] = {"--verbose", "--merge", nullptr};
    if (const char *w = given_of(*t, pass_words))
        return refuse(std::string("--state-out: ") + w +
                          " cannot stand with it",
                      argv);
    tally_error_t err;
    const char *path = t->cli.state_out;
    const bool to_stdout = std::strcmp(path, "-") == 0;
    FILE *out = to_stdout ? stdout : std::fopen(path, "wb");
    if (out == nullptr) {
        tally_fail(&err, EX_IOERR,
                   std::string("numtally: ") + path + ": " +
                       std::strerror(errno) + "\n");
        return report_error(err, argv);
    }
    tallyf_choose_quantile_type(t->cli.quantile_type);
    tally_input_t *input = tally_input_open(files, t->cli.run.header);
    xt_dsv_set_source(stdin, tally_input_source(input));
    static char input_buffer[1 << 17];
    std::setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    {
        tally_state_writer_t w(out);
        w.str(NUMTALLY_VERSION);
        w.u32(static_cast<uint32_t>(t->request.size()));
        for (const std::string &word : t->request)
            w.str(word);
        bool ran = tally_run_state_out(&t->list, stdin, t->cli.run, &w, &err);
        tally_input_finish(input);
        if (!ran) {
            if (!tally_input_failed(input, &err) && !files.empty())
                tally_input_name_rows(input, &err);
        }
        ran = ran && w.finish(to_stdout ? "standard output" : path, &err);
        if (!to_stdout && std::fclose(out) != 0 && ran)
            ran = tally_fail(&err, EX_IOERR,
                             std::string("numtally: ") + path +
                                 ": write error: " + std::strerror(errno) +
                                 "\n");
        if (!ran) {
            if (!to_stdout)
                std::remove(path);
            return report_error(err, argv);
        }
    }
    return to_stdout ? finish_output(0) : 0;
}

// --merge FILE...: the state files read, checked to be of one run, and the
// report of their parts printed as one pass over them prints it.
int run_merge(int argc, char *argv[], tabular_line_t *t,
              const std::vector<const char *> &files)
{
    if (t->list.count != 0)
        return refuse("--merge: the functions come from the state files",
                      argv);
    static const char *const part_words[] = {
        "--delims", "--delim", "--by", "--verbose", "--header", "--csv",
        "--skip-missing", "--quantile-type", "--state-out", nullptr};
    if (const char *w = given_of(*t, part_words))
        return refuse(std::string("--merge: ") + w +
                          " is given to the runs that write the states",
                      argv);
    if (files.empty())
        return refuse("--merge: no state file", argv);
    // The merge's own words (the layout), before the parts' request.
    std::vector<std::string> layout;
    for (int arg = 1; arg < argc; ++arg) {
        const tally_option_t *o = tally_option_by_word(argv[arg]);
        if (o == nullptr || std::strcmp(argv[arg], "--merge") == 0)
            continue;
        layout.push_back(argv[arg]);
        if (o->value != nullptr && arg + 1 < argc)
            layout.push_back(argv[++arg]);
    }
    tally_error_t err;
    // The files, closed on every way out (a caller may run the program
    // again in one process, as the fuzz targets do).
    struct closer_t {
        void operator()(FILE *f) const
        {
            if (f != stdin)
                std::fclose(f);
        }
    };
    std::vector<std::unique_ptr<FILE, closer_t>> streams;
    std::vector<std::unique_ptr<tally_state_reader_t>> readers;
    std::vector<std::string> request, first;
    bool stdin_taken = false;
    for (const char *name : files) {
        const bool is_stdin = std::strcmp(name, "-") == 0;
        if (is_stdin && stdin_taken)
            return refuse("--merge: standard input named twice", argv);
        stdin_taken |= is_stdin;
        FILE *in = is_stdin ? stdin : std::fopen(name, "rb");
        if (in == nullptr) {
            tally_fail(&err, EX_NOINPUT,
                       std::string("numtally: ") + name + ": " +
                           std::strerror(errno) + "\n");
            return report_error(err, argv);
        }
        streams.emplace_back(in);
        readers.push_back(std::make_unique<tally_state_reader_t>(
            in, is_stdin ? "standard input" : name));
        tally_state_reader_t &r = *readers.back();
        std::string version;
        uint32_t n = 0;
        if (!r.open(&err) || !r.str(&version, &err) || !r.u32(&n, &err))
            return report_error(err, argv);
        if (version != NUMTALLY_VERSION) {
            r.mismatch(&err, "written by numtally " + version +
                                 ", this is numtally " NUMTALLY_VERSION);
            return report_error(err, argv);
        }
        request.assign(n, {});
        for (std::string &word : request)
            if (!r.str(&word, &err))
                return report_error(err, argv);
        if (readers.size() == 1) {
            first = request;
        } else if (request != first) {
            r.mismatch(&err, std::string("other functions or options than ") +
                                 readers.front()->name() + "'s");
            return report_error(err, argv);
        }
    }
    if (first.empty()) {
        readers.front()->bad(&err, "no functions");
        return report_error(err, argv);
    }
    // The run the parts made, read again from their words, laid out as
    // the merge's words say.
    std::vector<std::string> words{argv[0]};
    words.insert(words.end(), layout.begin(), layout.end());
    words.insert(words.end(), first.begin(), first.end());
    std::vector<char *> args;
    for (std::string &w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    std::vector<const char *> none;
    static tabular_line_t part;
    const int status = read_line(static_cast<int>(words.size()), args.data(),
                                 &part, &none);
    if (status >= 0)
        return status;
    if (part.cli.state_out != nullptr || part.cli.merge || !none.empty() ||
        part.list.count == 0) {
        readers.front()->bad(&err, "request");
        return report_error(err, argv);
    }
    tallyf_choose_quantile_type(part.cli.quantile_type);
    std::vector<tally_state_reader_t *> parts;
    for (const auto &r : readers)
        parts.push_back(r.get());
    std::string notes;
    if (!tally_run_merge(&part.list, parts.data(),
                         static_cast<int>(parts.size()), part.cli.run, &err,
                         &notes))
        return report_error(err, argv);
    streams.clear();
    return finish_report(part.list, std::move(notes));
}

// The tabular command line: options and function words strictly from left
// to right, then one pass over standard input.
int run_tabular(int argc, char *argv[], std::vector<const char *> *files)
{
    static tabular_line_t t;
    const int status = read_line(argc, argv, &t, files);
    if (status >= 0)
        return status;
    tally_values_set_limit(t.cli.memory != 0 ? t.cli.memory
                                             : tally_values_default_limit());
    if (t.cli.merge)
        return run_merge(argc, argv, &t, *files);
    if (t.cli.state_out != nullptr)
        return run_state_out(argv, &t, *files);
    tally_error_t err;
    tallyf_list_t &list = t.list;
    tally_cli_t &cli = t.cli;
    tallyf_choose_quantile_type(cli.quantile_type);
    tally_input_t *input = tally_input_open(*files, cli.run.header);
    xt_dsv_set_source(stdin, tally_input_source(input));

    std::string notes;
    const int threads = cli.threads != 0 ? cli.threads : usable_processors();
    tally_choose_count_threads(std::min(threads, usable_processors()));
    bool ran;
    if (!run_on_threads(&list, cli.run, threads, *files, input, &err, &notes,
                        &ran)) {
        // Bigger reads than the default buffer: the pass is one long scan.
        static char input_buffer[1 << 17];
        std::setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
        ran = tally_run(&list, stdin, cli.run, &err, &notes);
    }
    tally_input_finish(input);
    if (!ran) {
        if (!tally_input_failed(input, &err) && !files->empty())
            tally_input_name_rows(input, &err);
        return report_error(err, argv);
    }
    return finish_report(list, std::move(notes));
}

} // namespace

// Out of memory outside the calls that return it as their error (reading
// the command line, the one-shot computations): the same message and status.
int out_of_memory()
{
    std::fputs(XT_NOMEM_MESSAGE, stderr);
    return end_with(XT_EXIT_NOMEM);
}

int run(int argc, char *argv[])
{
    int status = 0;
    if (run_distribution_command(argc, argv, &status))
        return status == 0 ? finish_output(0) : end_with(status);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return show_version();
    if (help_asked(argc, argv))
        return show_help(argv);
    bool merge = false;
    for (int arg = 1; arg < argc; ++arg)
        merge |= std::strcmp(argv[arg], "--merge") == 0;
    if (argc < 4 && !merge) {
        // Too short for any run: name a word that is no option or function.
        for (int arg = 1; arg < argc; ++arg) {
            const tally_option_t *o = tally_option_by_word(argv[arg]);
            if (o != nullptr) {
                arg += o->value != nullptr;
                continue;
            }
            if (tally_function_by_word(argv[arg]) == nullptr) {
                std::fputs(unknown_word(arg, argc, argv).c_str(), stderr);
                break;
            }
            break;
        }
        print_usage(argv);
        return end_with(EX_USAGE);
    }
    // Static, and so emptied here: a caller may run the program again in
    // one process (the fuzz targets do).
    static std::vector<const char *> files;
    files.clear();
    return run_tabular(argc, argv, &files);
}

// Every path returns its status here; nothing below main ends the process.
int main(int argc, char *argv[])
{
    hold_closed_std_streams();
    // A temporary file past the file size limit (ulimit -f) fails its
    // write, which the run reports, rather than ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // A long report (a frequency table of millions of rows) goes out in
    // fewer, larger writes; a terminal keeps its line buffering.
    static char output_buffer[1 << 16];
    if (!isatty(STDOUT_FILENO))
        std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        return out_of_memory();
    }
}
