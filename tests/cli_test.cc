// Runs the built program on the cases of tests/cli/*.cases and compares its
// standard output, standard error and exit status with the expected ones.
//
// A case file holds cases like this one:
//
//   === mean of one row
//   args: mean --row 1
//   --- stdin
//   3 6 1 8 2
//   --- stdout
//   Row 1 mean           4.000000
//   --- status 0
//
// Lines before the first "===" are comments.  Between the "===" line and
// the first section a case may give, one per line:
//   args: WORDS         the arguments; splits on blanks, '...' quotes
//                       literally, "..." takes the escapes below
//   env: NAME=VALUE     adds to the environment
//   stdout-to: PATH     standard output goes to PATH (say /dev/full), and the
//                       stdout section stays empty
//   cwd: DIR            runs in DIR, a folder beside the case files (say
//                       "files", which holds the input files cases name)
//   close: WHICH        closes stdin, stdout and/or stderr before the start
//   ulimit: -n N | -v KB | -f KB
//                       limits open files, address space or file size, as
//                       the shell's ulimit does; several may be given
//   skip: WHEN          skips the case under "sanitizers" (a build with
//                       NUMTALLY_SANITIZE) and/or "valgrind" (see below);
//                       under valgrind, cases that set TMPDIR are skipped
//                       anyway, as valgrind needs that folder itself
//
// Sections follow: "--- stdin", "--- stdout", "--- stderr" and
// "--- status N".  Section headers may carry flags: "nonl" drops the last
// newline, "esc" reads \n \r \t \\ \0 and \xHH escapes.  Blank lines that end
// a section are not part of it.  In stdout and stderr a line "@usage" stands
// for the usage text and a line "@version" for the "--version" line, and in
// any section a line '@gen N * "TEXT"' stands for TEXT (quoted as in args)
// written N times, without a newline of its own, so that large inputs and
// outputs need not be spelt out; "{i:W}" in TEXT stands for the copy's
// number (from 1) in W digits, so that copies can differ; in args a word
// '@gen:N*TEXT' stands for TEXT (taken as it stands) N times.  A missing section is
// expected empty; a missing status is 0.  A run that takes over a minute is
// killed (SIGALRM, status 142).
//
// With NUMTALLY_CLI_WRAPPER set (say "valgrind -q --error-exitcode=99"), the
// program runs under that command, started by the name "numtally" so that
// the usage text reads the same.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <algorithm>
#include <random>

namespace {

struct Case {
    std::string file;
    int line = 0;
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string in, out, err;
    int status = 0;
    std::string stdout_to;                     // "" for a file to compare
    std::string cwd;                           // under CLI_CASES_DIR; "": none
    std::vector<int> close_fds;
    std::vector<std::pair<int, rlim_t>> limits; // resource, value
    std::vector<std::string> skip;
};

const char kUsage[] =
    "\nUsage: numtally function arguments [...]\n"
    "\nSimple functions:\n"
    "   numtally z-table\n"
    "   numtally z-score x mean SD|SEM\n"
    "   numtally z-score x mean SSD n\n"
    "   numtally normal-cdf x [mean SD] (defaults: 0 1)\n\n"
    "   numtally t-score x-bar expected-mean SD n\n"
    "   numtally t-cdf x-bar n\n"
    "\nTabular data:\n"
    "   numtally [--verbose] [--delim 'string'] \\\n"
    "       function1 [param1] --row|--col N1 \\\n"
    "       [function2 [param2] --row|--col N2 ...] \\\n"
    "       < input-file\n"
    "\nFor tabular data at least one of the following functions is "
    "required:\n\n"
    "  mean\n"
    "  quantile N (N = number of divisions)\n"
    "  median (same as quantile 2)\n"
    "  quartile (same as quantile 4)\n"
    "  pop-var\n"
    "  pop-SD\n"
    "  pop-z-scores\n"
    "  sample-var\n"
    "  sample-SD\n"
    "  sample-z-scores\n"
    "  sample-SE\n"
    "  sample-t-score expected-mean\n"
    "  mode\n"
    "  range\n"
    "  iq-range\n"
    "  box-plot\n"
    "\nDefault delimiter is TAB.  The delimiter string may be multiple "
    "characters.\n"
    "Multiple consecutive spaces are treated as a single delimiter.\n"
    "\nExample: numtally sample-SD --col 9 pop-var --col 10 < sample.tsv\n"
    "Example: echo '3 6 1 8 2' | numtally mean --row 1\n\n";

const char kVersion[] = "numtally " NUMTALLY_VERSION "\n";

std::string unescape(const std::string &s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            r += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
        case 'n': r += '\n'; break;
        case 'r': r += '\r'; break;
        case 't': r += '\t'; break;
        case '0': r += '\0'; break;
        case 'x':
            r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default: r += c; break;
        }
    }
    return r;
}

std::vector<std::string> split_args(const std::string &s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (true) {
        while (i < s.size() && s[i] == ' ')
            ++i;
        if (i == s.size())
            break;
        std::string word;
        while (i < s.size() && s[i] != ' ') {
            if (s[i] == '\'' || s[i] == '"') {
                const char q = s[i];
                const size_t close = s.find(q, i + 1);
                std::string part = s.substr(i + 1, close - i - 1);
                word += q == '"' ? unescape(part) : part;
                i = close + 1;
            } else {
                word += s[i++];
            }
        }
        const size_t star = word.find('*');
        if (word.rfind("@gen:", 0) == 0 && star != std::string::npos) {
            const std::string text = word.substr(star + 1);
            const long n = std::stol(word.substr(5, star - 5));
            word.clear();
            for (long k = 0; k < n; ++k)
                word += text;
        }
        out.push_back(word);
    }
    return out;
}

// Appends n copies of text, "{i:W}" in each the copy's number in W digits.
void gen(long n, const std::string &text, std::string *body)
{
    const size_t at = text.find("{i:");
    const size_t end = at == std::string::npos ? at : text.find('}', at);
    if (end == std::string::npos) {
        for (; n > 0; --n)
            *body += text;
        return;
    }
    const int width = std::stoi(text.substr(at + 3, end - at - 3));
    for (long i = 1; i <= n; ++i) {
        const std::string number = std::to_string(i);
        *body += text.substr(0, at);
        body->append(width > static_cast<int>(number.size())
                         ? static_cast<size_t>(width) - number.size()
                         : 0,
                     '0');
        *body += number;
        *body += text.substr(end + 1);
    }
}

std::vector<Case> load_cases(const std::string &path, const std::string &name)
{
    std::vector<Case> cases;
    std::ifstream in(path);
    std::string line;
    std::string *section = nullptr;
    std::string flags, body;
    int blanks = 0; // blank lines held back: at a section's end they only
                    // separate cases
    int lineno = 0;
    auto close_section = [&] {
        if (section == nullptr)
            return;
        std::string text = body;
        if (flags.find("nonl") != std::string::npos && !text.empty())
            text.pop_back();
        if (flags.find("esc") != std::string::npos)
            text = unescape(text);
        *section = text;
        section = nullptr;
    };
    while (std::getline(in, line)) {
        ++lineno;
        if (line.rfind("=== ", 0) == 0) {
            close_section();
            cases.emplace_back();
            cases.back().file = name;
            cases.back().line = lineno;
            cases.back().name = line.substr(4);
        } else if (cases.empty()) {
            continue; // file header and comments
        } else if (line.rfind("--- ", 0) == 0) {
            close_section();
            std::istringstream words(line.substr(4));
            std::string what;
            words >> what;
            flags.clear();
            std::getline(words, flags);
            body.clear();
            blanks = 0;
            Case &c = cases.back();
            if (what == "stdin")
                section = &c.in;
            else if (what == "stdout")
                section = &c.out;
            else if (what == "stderr")
                section = &c.err;
            else if (what == "status")
                c.status = std::atoi(flags.c_str());
        } else if (section != nullptr && line.empty()) {
            ++blanks;
        } else if (section != nullptr) {
            for (; blanks > 0; --blanks)
                body += "\n";
            const bool output = section != &cases.back().in;
            if (line.rfind("@gen ", 0) == 0) {
                const auto words = split_args(line.substr(5));
                if (words.size() != 3 || words[1] != "*")
                    ADD_FAILURE() << name << ":" << lineno << ": bad @gen";
                else
                    gen(std::stol(words[0]), words[2], &body);
            } else {
                body += !output              ? line + "\n"
                        : line == "@usage"   ? std::string(kUsage)
                        : line == "@version" ? std::string(kVersion)
                                             : line + "\n";
            }
        } else if (line.rfind("args:", 0) == 0) {
            cases.back().args = split_args(line.substr(5));
        } else if (line.rfind("env: ", 0) == 0) {
            cases.back().env.push_back(line.substr(5));
        } else if (line.rfind("cwd: ", 0) == 0) {
            cases.back().cwd = line.substr(5);
        } else if (line.rfind("stdout-to: ", 0) == 0) {
            cases.back().stdout_to = line.substr(11);
        } else if (line.rfind("close:", 0) == 0) {
            for (const auto &w : split_args(line.substr(6)))
                cases.back().close_fds.push_back(
                    w == "stdin" ? 0 : w == "stdout" ? 1 : 2);
        } else if (line.rfind("ulimit:", 0) == 0) {
            const auto words = split_args(line.substr(7));
            if (words.size() != 2 ||
                (words[0] != "-n" && words[0] != "-v" && words[0] != "-f"))
                ADD_FAILURE() << name << ":" << lineno << ": bad ulimit";
            else if (words[0] == "-n")
                cases.back().limits.emplace_back(RLIMIT_NOFILE,
                                                 std::stoul(words[1]));
            else if (words[0] == "-f")
                cases.back().limits.emplace_back(
                    RLIMIT_FSIZE, std::stoul(words[1]) * rlim_t{1024});
            else
                cases.back().limits.emplace_back(
                    RLIMIT_AS, std::stoul(words[1]) * rlim_t{1024});
        } else if (line.rfind("skip:", 0) == 0) {
            cases.back().skip = split_args(line.substr(5));
        }
    }
    close_section();
    return cases;
}

std::vector<Case> all_cases()
{
    std::vector<Case> cases;
    std::vector<std::string> files;
    if (DIR *d = opendir(CLI_CASES_DIR)) {
        while (dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 6 && n.compare(n.size() - 6, 6, ".cases") == 0)
                files.push_back(n);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (const auto &f : files) {
        auto more = load_cases(std::string(CLI_CASES_DIR) + "/" + f, f);
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The words of NUMTALLY_CLI_WRAPPER, the command to run the program under.
std::vector<std::string> wrapper_words()
{
    const char *w = std::getenv("NUMTALLY_CLI_WRAPPER");
    return w != nullptr ? split_args(w) : std::vector<std::string>{};
}

bool skipped(const Case &c)
{
    for (const auto &when : c.skip) {
#if defined(NUMTALLY_SANITIZED)
        if (when == "sanitizers")
            return true;
#endif
        if (when == "valgrind" && !wrapper_words().empty())
            return true;
    }
    // A wrapper such as valgrind keeps files of its own in $TMPDIR.
    if (!wrapper_words().empty())
        for (const auto &e : c.env)
            if (e.rfind("TMPDIR=", 0) == 0)
                return true;
    return false;
}

struct Result {
    std::string out, err;
    int status = -1;
};

Result run(const Case &c)
{
    char dir[] = "/tmp/numtally-cli-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return {};
    const std::string in_path = std::string(dir) + "/in";
    const std::string out_path = std::string(dir) + "/out";
    const std::string err_path = std::string(dir) + "/err";
    {
        std::ofstream in(in_path, std::ios::binary);
        in << c.in;
    }
    // Under a wrapper the program is started through a link by its own name.
    const std::vector<std::string> wrapper = wrapper_words();
    const std::string link_dir = std::string(dir) + "/bin";
    if (!wrapper.empty()) {
        mkdir(link_dir.c_str(), 0700);
        if (symlink(NUMTALLY_BIN, (link_dir + "/numtally").c_str()) != 0)
            return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(in_path.c_str(), O_RDONLY);
        const int out = c.stdout_to.empty()
                            ? open(out_path.c_str(), O_WRONLY | O_CREAT, 0600)
                            : open(c.stdout_to.c_str(), O_WRONLY);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT, 0600);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // Nothing else of this process's descriptors (or the test runner's)
        // reaches the program: descriptor limits count from 3.
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        for (const int fd : c.close_fds)
            close(fd);
        for (const auto &[resource, value] : c.limits) {
            const rlimit lim{value, value};
            if (setrlimit(resource, &lim) != 0)
                _exit(126);
        }
        for (const auto &e : c.env)
            putenv(const_cast<char *>(e.c_str()));
        if (!c.cwd.empty() &&
            chdir((std::string(CLI_CASES_DIR) + "/" + c.cwd).c_str()) != 0)
            _exit(126);
        std::vector<char *> argv;
        for (const auto &w : wrapper)
            argv.push_back(const_cast<char *>(w.c_str()));
        argv.push_back(const_cast<char *>("numtally"));
        for (const auto &a : c.args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        alarm(60); // a hang fails the case instead of the whole suite
        if (wrapper.empty()) {
            execv(NUMTALLY_BIN, argv.data());
        } else {
            setenv("PATH", (link_dir + ":/usr/bin:/bin").c_str(), 1);
            execvp(argv[0], argv.data());
        }
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus)
                                  : 128 + WTERMSIG(wstatus);
    unlink(in_path.c_str());
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    if (!wrapper.empty()) {
        unlink((link_dir + "/numtally").c_str());
        rmdir(link_dir.c_str());
    }
    rmdir(dir);
    return r;
}

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.file << ":" << c.line << " (" << c.name << ")";
}

class Cli : public testing::TestWithParam<Case> {};

TEST_P(Cli, Matches)
{
    const Case &c = GetParam();
    SCOPED_TRACE(c.file + ":" + std::to_string(c.line) + ": " + c.name);
    if (skipped(c))
        GTEST_SKIP() << "not run in this build";
    const Result r = run(c);
    EXPECT_EQ(c.out, r.out) << "standard output";
    EXPECT_EQ(c.err, r.err) << "standard error";
    EXPECT_EQ(c.status, r.status) << "exit status";
}

std::string case_name(const testing::TestParamInfo<Case> &info)
{
    std::string n = info.param.file.substr(0, info.param.file.size() - 6) +
                    "_" + std::to_string(info.param.line);
    for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, Cli, testing::ValuesIn(all_cases()),
                         case_name);

// --by against the program itself: for random inputs (keys of odd bytes and
// lengths, the key before or after the values, one or two key columns,
// groups of a few values and of thousands) and every column function, the
// grouped run's lines for each key, without the key prefix, are exactly
// what the ungrouped run prints over that key's lines alone, on standard
// output and on standard error, with gaps in the values and without, under
// --skip-missing and without; and the groups come in the order their keys
// first appear.
TEST(Grouped, EachGroupAsTheUngroupedRunOverItsLines)
{
    std::mt19937_64 rng(20261209);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const std::vector<std::vector<std::string>> functions = {
        {"mean"}, {"median"}, {"quantile", "3"}, {"quartile"}, {"pop-var"},
        {"pop-SD"}, {"pop-z-scores"}, {"sample-var"}, {"sample-SD"},
        {"sample-SE"}, {"sample-z-scores"}, {"sample-t-score", "1.5"},
        {"mode"}, {"range"}, {"iq-range"}, {"box-plot"}, {"chi-sq-fit"},
        {"count"}, {"sum"}, {"min"}, {"max"}, {"percentile", "95,99.9"},
        {"geo-mean"}, {"harm-mean"}, {"skewness"}, {"kurtosis"}, {"mad"},
        {"summary"}, {"covariance"}, {"correlation"}, {"regression"},
        {"welch-t"}, {"paired-t"}};
    const std::vector<std::string> two_columns = {
        "covariance", "correlation", "regression", "welch-t", "paired-t"};
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Fields: up to two keys among four columns; "," separates fields,
        // so keys may hold blanks, tabs and any byte but ",", CR and LF.
        const bool two_keys = round % 3 == 2;
        const int key1 = 1 + static_cast<int>(pick(4));
        int key2 = 1 + static_cast<int>(pick(4));
        if (key2 == key1)
            key2 = key1 % 4 + 1;
        // Every fourth round, groups of thousands of values; every other
        // round, gaps (empty fields taken as 0, or NA, which is refused,
        // unless --skip-missing skips both).
        const bool big = round % 4 == 3;
        const bool gaps = round % 2 == 1;
        const bool skip = gaps && round % 4 == 1;
        std::vector<std::string> keys;
        for (size_t k = 0, n = 1 + pick(big ? 3 : 12); k < n; ++k) {
            std::string key;
            const size_t len = pick(9) == 0 ? 300 : pick(6);
            for (size_t b = 0; b < len; ++b) {
                char c;
                do
                    c = static_cast<char>(1 + pick(255));
                while (c == ',' || c == '\r' || c == '\n');
                key += c;
            }
            keys.push_back(key);
        }
        std::vector<std::string> lines, line_keys, line_prefixes;
        for (size_t l = 0, n = 1 + pick(big ? 12000 : 120); l < n; ++l) {
            const std::string &k1 = keys[pick(keys.size())];
            const std::string &k2 = keys[pick(keys.size())];
            std::string line;
            for (int col = 1; col <= 4; ++col) {
                if (col > 1)
                    line += ',';
                if (col == key1)
                    line += k1;
                else if (two_keys && col == key2)
                    line += k2;
                else if (gaps && pick(12) == 0)
                    line += pick(2) == 0 ? "" : "NA"; // a gap
                else
                    line += std::to_string(pick(2000)) + "." +
                            std::to_string(pick(100)); // counts, too: >= 0
            }
            lines.push_back(line + "\n");
            std::string identity = k1 + '\t';
            if (two_keys)
                identity += k2 + '\t';
            line_keys.push_back(identity);
            // The key fields as the lines show them: a tab or backslash in
            // one escaped as a TSV field holds it.
            const auto shown = [](const std::string &k) {
                std::string e;
                for (const char c : k)
                    e += c == '\t' ? std::string("\\t")
                         : c == '\\' ? std::string("\\\\")
                                     : std::string(1, c);
                return e + '\t';
            };
            line_prefixes.push_back(shown(k1) + (two_keys ? shown(k2) : ""));
        }
        std::vector<std::string> args = {"--delims", ","};
        if (skip)
            args.push_back("--skip-missing");
        const auto value_col = [&] {
            int col;
            do
                col = 1 + static_cast<int>(pick(5)); // 5: no line has it
            while (col == key1 || (two_keys && col == key2));
            return std::to_string(col);
        };
        for (size_t f = 0, n = 1 + pick(4); f < n; ++f) {
            const auto &fn = functions[pick(functions.size())];
            args.insert(args.end(), fn.begin(), fn.end());
            args.push_back("--col");
            args.push_back(value_col());
            if (std::find(two_columns.begin(), two_columns.end(), fn[0]) !=
                two_columns.end()) {
                args.push_back("--col");
                args.push_back(value_col());
            }
        }

        Case grouped;
        grouped.args = args;
        grouped.args.push_back("--by");
        grouped.args.push_back(two_keys ? std::to_string(key1) + "," +
                                              std::to_string(key2)
                                        : std::to_string(key1));
        std::string expected, expected_err;
        int expected_status = 0;
        std::vector<std::string> seen;
        for (const std::string &line : lines)
            grouped.in += line;
        for (size_t l = 0; l < lines.size(); ++l) {
            const std::string &key = line_keys[l];
            if (std::find(seen.begin(), seen.end(), key) != seen.end())
                continue;
            seen.push_back(key);
            Case alone;
            alone.args = args;
            for (size_t m = l; m < lines.size(); ++m)
                if (line_keys[m] == key)
                    alone.in += lines[m];
            const Result r = run(alone);
            if (r.status != 0) {
                // A refused field ends the grouped run as it ends this one
                // (its row is another there).
                expected_status = r.status;
                break;
            }
            std::istringstream out(r.out), err(r.err);
            for (std::string line; std::getline(out, line);)
                expected += line_prefixes[l] + line + "\n";
            for (std::string line; std::getline(err, line);)
                expected_err += line_prefixes[l] + line + "\n";
        }
        const Result r = run(grouped);
        EXPECT_EQ(expected_status, r.status) << r.err;
        if (expected_status != 0)
            continue;
        EXPECT_EQ(expected, r.out);
        EXPECT_EQ(expected_err, r.err);
    }
}

} // namespace
