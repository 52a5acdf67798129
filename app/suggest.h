// The word a mistyped one was likely meant to be: a function word or an
// option, for the messages that name a command line's mistake.
#ifndef NUMTALLY_APP_SUGGEST_H
#define NUMTALLY_APP_SUGGEST_H

#include <string>

// The function word or option closest to word: one that other programs'
// users type for it ("stdev": "sample-SD"), or one within a few edits
// (letters left out, added, changed or swapped).  Empty when none is close.
std::string tally_suggest(const char *word);

#endif
