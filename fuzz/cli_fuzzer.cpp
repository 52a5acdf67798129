// Fuzz target: the command line.  The input is the argument vector after the
// program name, one word per NUL-terminated piece; standard input is empty.
// Every run of the program's main must end with one of its own statuses.
//
// A quantile with N divisions prints N + 1 lines whatever the input, so
// "quantile 4294967295" asks for four billion lines: a long run, but what
// was asked for, not a hang.  Inputs with a quantile count above 10000 are
// passed over.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

int numtally_main(int argc, char *argv[]); // the program's main, renamed

namespace {

constexpr size_t kMaxWords = 512;
constexpr unsigned long kMaxDivisions = 10000;

// True when some word after "quantile" reads as a count above the limit
// (strtoul's reading: "-1" is a huge count too).
bool asks_for_huge_output(const std::vector<std::string> &words)
{
    for (size_t i = 0; i + 1 < words.size(); ++i)
        if (words[i] == "quantile" &&
            std::strtoul(words[i + 1].c_str(), nullptr, 10) > kMaxDivisions)
            return true;
    return false;
}

// A word that names a file the run would read: a device such as /dev/zero
// never ends.  Files in the working folder are finite and stay fair game.
bool names_outside_file(const std::vector<std::string> &words)
{
    for (size_t i = 1; i < words.size(); ++i)
        if (words[i].find('/') != std::string::npos)
            return true;
    return false;
}

// --state-out with a file would leave one in the working folder at every
// run; to standard output ("-") it is fair game.
bool writes_state_file(const std::vector<std::string> &words)
{
    for (size_t i = 1; i + 1 < words.size(); ++i)
        if (words[i] == "--state-out" && words[i + 1] != "-")
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quiet_std_streams();
    std::vector<std::string> words{"numtally"};
    std::string word;
    for (size_t i = 0; i < size && words.size() <= kMaxWords; ++i) {
        if (data[i] == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty() && words.size() <= kMaxWords)
        words.push_back(word);

    if (asks_for_huge_output(words) || names_outside_file(words) ||
        writes_state_file(words))
        return 0;

    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    std::clearerr(stdin);
    run_program([&] {
        return numtally_main(static_cast<int>(words.size()), argv.data());
    });
    std::clearerr(stdout);
    return 0;
}
