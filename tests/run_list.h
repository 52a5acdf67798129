// A function list made from a command line of function words, as the
// program's own front end makes it, for the tests that run lists whole;
// its destructor gives back what a run left in the records (their values
// and listing files).
#ifndef NUMTALLY_TESTS_RUN_LIST_H
#define NUMTALLY_TESTS_RUN_LIST_H

#include <cstdio>
#include <string>
#include <vector>

#include "functions.h"
#include "tallyf-list.h"
#include "xt.h"

struct RunList {
    tallyf_list_t list;
    std::vector<std::string> words;
    std::vector<char *> argv;

    // words[0] stands for the program's name.
    explicit RunList(std::vector<std::string> w) : words(std::move(w))
    {
        tallyf_list_init(&list);
        for (auto &s : words)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        const int argc = static_cast<int>(words.size());
        for (int arg = 1; arg < argc; ++arg) {
            const tally_function_t *f = tally_function_by_word(argv[arg]);
            tallyf_list_add_func(&list, f->code, &arg, argc, argv.data());
        }
    }
    RunList(const RunList &) = delete;
    RunList &operator=(const RunList &) = delete;
    ~RunList()
    {
        for (int i = 0; i < list.count; ++i) {
            xt_free(list.functions[i].nums);
            list.functions[i].nums = nullptr;
            if (list.functions[i].tmp_file != nullptr)
                std::fclose(list.functions[i].tmp_file);
            list.functions[i].tmp_file = nullptr;
        }
    }
};

#endif
