// The function and option tables drive the command line and the usage list;
// the bash completion and the fuzz dictionary are files of their own, and
// must know every word of the tables.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "functions.h"
#include "options.h"

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The words of a bash assignment `name="..."` (one string, newlines allowed).
std::string words_of(const std::string &script, const std::string &name)
{
    const size_t at = script.find(name + "=\"");
    if (at == std::string::npos)
        return {};
    const size_t from = at + name.size() + 2;
    std::string w(1, ' ');
    w.append(script, from, script.find('"', from) - from);
    w.push_back(' ');
    for (char &c : w)
        if (c == '\n')
            c = ' ';
    return w;
}

// word between two of the given characters.
std::string between(char c, const char *word)
{
    std::string s(1, c);
    s.append(word);
    s.push_back(c);
    return s;
}

bool has_word(const std::string &words, const char *word)
{
    return words.find(between(' ', word)) != std::string::npos;
}

TEST(Words, CompletionAndFuzzDictionaryKnowEveryWord)
{
    const std::string completion =
        read_file(SOURCE_DIR "/completions/numtally.bash");
    const std::string dict = read_file(SOURCE_DIR "/fuzz/cli.dict");
    ASSERT_FALSE(completion.empty());
    ASSERT_FALSE(dict.empty());
    const std::string functions = words_of(completion, "functions");
    const std::string options = words_of(completion, "options");
    // The words after which a parameter (free text) follows.
    const size_t cases = completion.find("case $prev in");
    std::string free_text =
        completion.substr(cases, completion.find("esac", cases) - cases);
    for (char &c : free_text)
        if (c == '|' || c == ')' || c == '\n')
            c = ' ';
    for (size_t i = 0; i < tally_function_count; ++i) {
        const tally_function_t &f = tally_functions[i];
        EXPECT_NE(dict.find(between('"', f.word)),
                  std::string::npos) << f.word << " not in fuzz/cli.dict";
        if (f.refusal != nullptr)
            continue; // refused words are not offered
        EXPECT_TRUE(has_word(functions, f.word))
            << f.word << " not in the completion's functions";
        // Free text before --row/--col (a second --col is not).
        const bool takes_param = f.param != tally_param_t::none &&
                                 f.param != tally_param_t::two_columns;
        EXPECT_EQ(has_word(free_text, f.word), takes_param)
            << f.word << ": the completion's parameter cases";
    }
    for (size_t i = 0; i < tally_option_count; ++i) {
        const tally_option_t &o = tally_options[i];
        EXPECT_TRUE(has_word(options, o.word))
            << o.word << " not in the completion's options";
        EXPECT_NE(dict.find(between('"', o.word)),
                  std::string::npos) << o.word << " not in fuzz/cli.dict";
    }
}

} // namespace
