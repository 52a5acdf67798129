#!/usr/bin/env bash
# Checks what the bash completion offers in the main contexts.
set -u
. "$1"
fail=0
offers() { # expected words, then the command line being completed
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _numtally
    local got="${COMPREPLY[*]}"
    if [[ $got != "$expected" ]]; then
        echo "completing '$*': expected '$expected', got '$got'"
        fail=1
    fi
}
offers "pop-var pop-SD pop-z-scores" numtally pop-
offers "t-score t-cdf t-table t-test" numtally t-
offers "--row --col" numtally mean ""
offers "--row --col" numtally quantile 4 --
offers "" numtally quantile ""
offers "" numtally mean --row ""
offers "sample-var sample-SD sample-SE sample-z-scores sample-t-score" numtally mean --row 1 sample-
offers "--delims --delim --digits" numtally mean --row 1 --d
offers "1 2 3 4 5 6 7 8 9" numtally --quantile-type ""
dir=$(mktemp -d) && touch "$dir/data.tsv.gz"
offers "$dir/data.tsv.gz" numtally mean --col 2 "$dir/data"
rm -r "$dir"
offers "csv" numtally --format c
offers "" numtally --digits ""
offers "--threads" numtally mean --col 2 --th
offers "" numtally --threads ""
offers "--by" numtally mean --col 2 --b
offers "" numtally mean --col 2 --by ""
offers "--verbose --version" numtally --ve
offers "chi-sq-fit" numtally chi-
offers "" numtally t-cdf ""
offers "" numtally top ""
offers "--row --col" numtally top 3 ""
offers "--row --col" numtally histogram ""
offers "--row --col" numtally histogram 8 ""
offers "" numtally histogram --col ""
dir=$(mktemp -d) && touch "$dir/part1.state" "$dir/part2.state"
offers "$dir/part2.state" numtally --merge "$dir/part1.state" "$dir/part2"
offers "$dir/part1.state" numtally mean --col 1 --state-out "$dir/part1"
offers "--long" numtally --merge "$dir/part1.state" --l
rm -r "$dir"
offers "--state-out" numtally mean --col 1 --st
exit $fail
