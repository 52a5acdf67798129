// Suggestions for mistyped words.
#include "suggest.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "functions.h"
#include "options.h"

namespace {

// The names other tools give the same statistics.
struct synonym_t {
    const char *word;
    const char *meant;
};

const synonym_t synonyms[] = {
    {"sd", "sample-SD"},          {"stdev", "sample-SD"},
    {"stddev", "sample-SD"},      {"std", "sample-SD"},
    {"sstdev", "sample-SD"},      {"pstdev", "pop-SD"},
    {"var", "sample-var"},        {"variance", "sample-var"},
    {"svar", "sample-var"},       {"pvar", "pop-var"},
    {"se", "sample-SE"},          {"sem", "sample-SE"},
    {"avg", "mean"},              {"average", "mean"},
    {"iqr", "iq-range"},          {"quartiles", "quartile"},
    {"quantiles", "quantile"},    {"percentiles", "percentile"},
    {"n", "count"},               {"cor", "correlation"},
    {"corr", "correlation"},      {"pearson", "correlation"},
    {"cov", "covariance"},        {"lm", "regression"},
    {"skew", "skewness"},         {"kurt", "kurtosis"},
    {"boxplot", "box-plot"},      {"geomean", "geo-mean"},
    {"harmmean", "harm-mean"},    {"minimum", "min"},
    {"maximum", "max"},           {"total", "sum"},
    {"ttest", "welch-t"},         {"t-test", "welch-t"},
    {"-h", "--help"},             {"--delimiter", "--delims"},
    {"-d", "--delims"},           {"-t", "--delims"},
    {"--headers", "--header"},    {"--skip-na", "--skip-missing"},
    {"--column", "--col"},        {"--cols", "--col"},
    {"--rows", "--row"},          {"--group-by", "--by"},
    {"-v", "--verbose"},          {"--tsv", "--delims"},
};

// Edits from a to b, case aside: letters left out, added, changed, and two
// neighbours swapped.
size_t distance(const std::string &a, const std::string &b)
{
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= m; ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

std::string lower(const char *word)
{
    std::string s = word;
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::string tally_suggest(const char *word)
{
    const std::string w = lower(word);
    for (const synonym_t &s : synonyms)
        if (w == s.word)
            return s.meant;
    std::vector<const char *> words;
    for (size_t i = 0; i < tally_function_count; ++i)
        words.push_back(tally_functions[i].word);
    for (size_t i = 0; i < tally_option_count; ++i)
        words.push_back(tally_options[i].word);
    for (const char *w : {"z-table", "z-score", "normal-cdf", "t-score", "t-cdf", "t-table"})
        words.push_back(w);
    words.push_back("--row");
    words.push_back("--col");
    // Close: at most a third of the word's letters changed, two at most.
    const size_t room = std::min<size_t>(2, w.size() / 3);
    std::string best;
    size_t best_d = room + 1;
    for (const char *c : words) {
        const size_t d = distance(w, lower(c));
        if (d < best_d) {
            best_d = d;
            best = c;
        }
    }
    return best;
}
