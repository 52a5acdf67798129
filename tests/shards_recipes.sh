#!/usr/bin/env bash
# The README's shard recipes, run: GNU parallel cutting one file into parts
# with --pipepart, and examples/dask_shards.py mapping numtally over files
# on a LocalCluster.  Each must print, byte for byte, what one pass prints
# (standard output, standard error, status).  A recipe whose tool is
# missing is skipped; with neither tool the test is skipped (77).
# usage: shards_recipes.sh NUMTALLY SOURCE_DIR
set -u
bin=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
ran=0

# 60,000 lines: a key, a value of a few digits, a wide value; a short line
# now and then (the notices name the first one's row).
awk 'BEGIN {
    srand(28); print "key\tv\tw";
    for (i = 1; i <= 60000; i++) {
        k = substr("abcdefg", 1 + int(rand() * 7), 1);
        if (i % 9973 == 0) { print k "\t" i % 100; continue }
        printf "%s\t%d.%02d\t%.6e\n", k, int(rand() * 2000) - 1000,
               int(rand() * 100), (rand() - 0.5) * 1e12
    }
}' >"$tmp/big.tsv"

same() { # name, then the two outcome files
    if ! cmp -s "$2" "$3"; then
        echo "$1: the recipe's output differs from one pass's:"
        diff "$2" "$3" | head -20
        fail=1
    fi
}
outcome() { # file, command...
    local out=$1
    shift
    "$@" >"$out.out" 2>"$out.err"
    echo "status $?" >>"$out.err"
    cat "$out.out" "$out.err" >"$out"
}

requests=(
    "--header median --col v mean --col w sample-SD --col w count --col w"
    "--header --by key mean --col v percentile 5,50,95 --col w summary --col v"
    "--header sum --col v pop-z-scores --col v"
)

if command -v parallel >/dev/null 2>&1; then
    ran=1
    k=0
    for request in "${requests[@]}"; do
        k=$((k + 1))
        # shellcheck disable=SC2086
        outcome "$tmp/one$k" "$bin" $request "$tmp/big.tsv"
        rm -f "$tmp"/part*.state
        # The recipe: four parts, the header line repeated to each.
        # shellcheck disable=SC2086
        parallel --pipepart -a "$tmp/big.tsv" --header : -j 4 --block -1 \
            "$bin" $request --state-out "$tmp/part{#}.state" ||
            { echo "parallel: status $?"; fail=1; }
        mapfile -t states < <(ls "$tmp"/part*.state | sort -V)
        outcome "$tmp/merged$k" "$bin" --merge "${states[@]}"
        same "parallel, $request (${#states[@]} parts)" "$tmp/one$k" "$tmp/merged$k"
    done
else
    echo "parallel not found: the GNU parallel recipe is skipped"
fi

# Dask distributed: Debian's python3-distributed is for the system python3.
dask_python=
for py in python3 /usr/bin/python3; do
    if "$py" -c 'import dask.distributed' >/dev/null 2>&1; then
        dask_python=$py
        break
    fi
done
if [ -n "$dask_python" ]; then
    ran=1
    head -1 "$tmp/big.tsv" >"$tmp/header"
    tail -n +2 "$tmp/big.tsv" | split -l 17000 - "$tmp/rows."
    files=()
    for f in "$tmp"/rows.*; do
        cat "$tmp/header" "$f" >"$f.tsv"
        files+=("$f.tsv")
    done
    k=0
    for request in "${requests[@]}" "--format json --header --by key mean --col v"; do
        k=$((k + 1))
        # shellcheck disable=SC2086
        outcome "$tmp/dask-one$k" "$bin" $request "${files[@]}"
        # shellcheck disable=SC2086
        outcome "$tmp/dask$k" "$dask_python" "$src/examples/dask_shards.py" \
            --numtally "$bin" $request -- "${files[@]}"
        same "dask, $request" "$tmp/dask-one$k" "$tmp/dask$k"
    done
else
    echo "dask.distributed not found: the Dask recipe is skipped"
fi

[ $ran -eq 0 ] && exit 77
exit $fail
