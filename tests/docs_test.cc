// Runs every example of the README and the man page and compares its output
// with the one printed there, so the documentation cannot drift.
//
// An example is a line "$ command" inside a ``` block of the README or an
// .EX/.EE block of the man page; the lines after it, up to the next "$ " line
// or the end of the block, are its standard output.  Commands run under sh in
// the source folder with the built program first on PATH.  The man page is
// the one the build made from docs/numtally.1.in, as installed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Example {
    std::string where;
    std::string command;
    std::string output;
};

// Undoes the roff escapes the man page's examples use.
std::string unroff(const std::string &line)
{
    static const std::array<std::pair<const char *, const char *>, 5> map = {{
        {"\\-", "-"},
        {"\\(aq", "'"},
        {"\\e", "\\"},
        {"\\&", ""},
        {"\\(dq", "\""},
    }};
    std::string out;
    for (size_t i = 0; i < line.size();) {
        bool done = false;
        for (const auto &[from, to] : map) {
            const std::string f = from;
            if (line.compare(i, f.size(), f) == 0) {
                out += to;
                i += f.size();
                done = true;
                break;
            }
        }
        if (!done)
            out += line[i++];
    }
    return out;
}

// The examples of the file at path, named after file.
std::vector<Example> examples(const std::string &path, const std::string &file,
                              const char *open, const char *close, bool roff)
{
    std::ifstream in(path);
    std::vector<Example> found;
    std::string line;
    bool inside = false;
    bool in_example = false; // the last example's block is still open
    int lineno = 0;
    while (std::getline(in, line)) {
        ++lineno;
        if (!inside) {
            inside = line.rfind(open, 0) == 0;
            continue;
        }
        if (line.rfind(close, 0) == 0) {
            inside = in_example = false;
            continue;
        }
        if (roff)
            line = unroff(line);
        if (line.rfind("$ ", 0) == 0) {
            found.push_back({file + ":" + std::to_string(lineno),
                             line.substr(2), ""});
            in_example = true;
        } else if (in_example) {
            found.back().output += line + "\n";
        }
    }
    return found;
}

std::vector<Example> readme_examples()
{
    return examples(SOURCE_DIR "/README.md", "README.md", "```", "```", false);
}

std::vector<Example> man_examples()
{
    return examples(MAN_PAGE, "docs/numtally.1.in", ".EX", ".EE", true);
}

std::vector<Example> all_examples()
{
    auto all = readme_examples();
    auto man = man_examples();
    all.insert(all.end(), man.begin(), man.end());
    return all;
}

std::string run(const std::string &command)
{
    const std::string full = "cd '" SOURCE_DIR "' && PATH='" BIN_DIR
                             "':\"$PATH\" && " + command;
    FILE *p = popen(full.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

class DocExample : public testing::TestWithParam<Example> {};

TEST_P(DocExample, PrintsWhatTheDocumentationShows)
{
    const Example &e = GetParam();
    EXPECT_EQ(run(e.command), e.output) << e.where << ": $ " << e.command;
}

void PrintTo(const Example &e, std::ostream *os) { *os << e.where; }

INSTANTIATE_TEST_SUITE_P(
    Docs, DocExample, testing::ValuesIn(all_examples()),
    [](const testing::TestParamInfo<Example> &info) {
        std::string n = info.param.where;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST(Docs, ThereAreExamplesInBoth)
{
    EXPECT_GE(readme_examples().size(), 2u);
    EXPECT_GE(man_examples().size(), 2u);
}

} // namespace
