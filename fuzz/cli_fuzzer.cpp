// Fuzz target: the command line.  The input is the argument vector after the
// program name, one word per NUL-terminated piece; standard input is empty.
// Every run of the program's main must end with one of its own statuses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

int numtally_main(int argc, char *argv[]); // the program's main, renamed

namespace {
constexpr size_t kMaxWords = 512;
}

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
