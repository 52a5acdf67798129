#!/usr/bin/env bash
# Runs the fuzz targets of a build made with -DNUMTALLY_FUZZ=ON, each for the
# given number of seconds, starting from the seed corpus in fuzz/corpus.
# New inputs go to a scratch corpus (the repository's seeds stay as they
# are); a finding is written to the scratch folder and fails the script.
# So does a target whose coverage on its seeds (libFuzzer's "INITED cov:",
# in edges) falls below the floor in fuzz/TARGET.floor: a change that
# makes every input stop early (a refused word in the target's command
# line, say) shows there.
#
#   fuzz/run.sh BUILD-DIR SECONDS [stream|csv_header|by|cols|reader|cli ...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="$2"
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(stream csv_header by cols reader cli)

# Runs with z-score listings make temporary files: keep them in memory where
# possible.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

if [ -n "${FUZZ_WORK:-}" ]; then
  work="$FUZZ_WORK"
else
  work="$(mktemp -d /tmp/numtally-fuzz.XXXXXX)"
  scratch=1
fi
status=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  cp -n "$here/corpus/$t"/* "$work/$t/"
  echo "fuzz: $t for ${seconds}s, corpus $work/$t"
  if ! "$build/fuzz/fuzz_$t" "$work/$t" -dict="$here/$t.dict" \
      -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
      -timeout=10 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$work/$t-" 2>"$work/$t.log"; then
    status=1
    echo "fuzz: $t FOUND A PROBLEM (log: $work/$t.log)"
    tail -n 60 "$work/$t.log"
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' \
      "$work/$t.log" || true
    grep -E '#[0-9]+ +DONE' "$work/$t.log" | tail -n 1 || true
  fi
  inited="$(sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' "$work/$t.log" | head -n 1)"
  floor="$(cat "$here/$t.floor" 2>/dev/null || echo 0)"
  echo "fuzz: $t covers ${inited:-no} edges on its seeds (floor $floor)"
  if [ -z "$inited" ] || [ "$inited" -lt "$floor" ]; then
    status=1
    echo "fuzz: $t's coverage on its seeds is below its floor"
  fi
done
# A scratch folder of a clean run holds nothing worth keeping.
if [ $status -eq 0 ] && [ -n "${scratch:-}" ]; then
  rm -rf "$work"
fi
exit $status
