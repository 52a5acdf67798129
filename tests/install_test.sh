#!/usr/bin/env bash
# Installs the build into a scratch prefix, runs the installed program and
# builds a small program against the installed library through pkg-config;
# then makes the Debian package, unpacks it and checks its tree the same way.
# Arguments: build folder, C++ compiler, cpack, the project's version.
set -euo pipefail
build=$1
cxx=${2:-c++}
cpack=${3:-cpack}
version=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cat >"$scratch/use.cc" <<'PROGRAM'
#include <numtally/tallyf.h>
#include <numtally/tallyf-mutators.h>
#include <numtally/xt.h>

#include <initializer_list>

int main()
{
    tallyf_t tf;
    tf.code = TALLYF_QUANTILE;
    tallyf_init(&tf);
    tallyf_set_row(&tf, 1);
    tallyf_set_partitions(&tf, 4);
    tallyf_set_nums(&tf, static_cast<double *>(xt_malloc(1024, sizeof(double))));
    tallyf_set_array_size(&tf, 1024);
    for (double v : {3.0, 6.0, 1.0, 8.0, 2.0})
        tallyf_process_val(&tf, v);
    tallyf_quantiles(&tf, "Row", 1);
}
PROGRAM

# Checks the installed tree under the prefix $1, named $2 in messages.
check_tree() {
  local prefix=$1 what=$2
  for f in bin/numtally share/man/man1/numtally.1 \
           share/bash-completion/completions/numtally \
           include/numtally/tallyf.h include/numtally/tallyf-list.h \
           include/numtally/tallyf-mutators.h include/numtally/tallyf-list-mutators.h \
           include/numtally/xt.h lib/libnumtally.a lib/pkgconfig/numtally.pc; do
    [ -e "$prefix/$f" ] || { echo "$what: not installed: $f"; exit 1; }
  done
  local got
  got=$(echo '3 6 1 8 2' | "$prefix/bin/numtally" mean --row 1)
  [ "$got" = "Row 1 mean           4.000000" ] || { echo "$what: program printed: $got"; exit 1; }
  got=$("$prefix/bin/numtally" --version)
  [ "$got" = "numtally $version" ] || { echo "$what: --version printed: $got"; exit 1; }
  grep -q "^\.TH NUMTALLY 1 .* \"numtally $version\" " "$prefix/share/man/man1/numtally.1" ||
    { echo "$what: man page heading lacks the version:"; head -1 "$prefix/share/man/man1/numtally.1"; exit 1; }

  # Every module of the library is in the archive.
  nm -C "$prefix/lib/libnumtally.a" >"$scratch/symbols"
  for sym in tallyf_quantiles tallyf_list_process_stream tallyf_set_nums tallyf_list_set_count xt_dsv_read_field; do
    grep -q " T $sym(" "$scratch/symbols" || { echo "$what: archive lacks $sym"; exit 1; }
  done

  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  got=$(pkg-config --modversion numtally)
  [ "$got" = "$version" ] || { echo "$what: pkg-config version: $got"; exit 1; }
  # shellcheck disable=SC2046
  "$cxx" -std=c++20 -o "$scratch/use" "$scratch/use.cc" $(pkg-config --cflags --libs numtally)
  local expected='Row 1 low            1.000000
Row 1 quantile(0.25) 1.500000
Row 1 quantile(0.50) 3.000000
Row 1 quantile(0.75) 7.000000
Row 1 high           8.000000'
  [ "$("$scratch/use")" = "$expected" ] || { echo "$what: library program printed:"; "$scratch/use"; exit 1; }
}

cmake --install "$build" --prefix "$scratch/usr" >/dev/null
check_tree "$scratch/usr" "cmake --install"

# DESTDIR stages the whole tree below it.
DESTDIR=$scratch/stage cmake --install "$build" --prefix /opt/numtally >/dev/null
[ -x "$scratch/stage/opt/numtally/bin/numtally" ] || { echo "DESTDIR not honoured"; exit 1; }

# The Debian package, made as the README says, installs under /usr and
# declares what it needs at run time.
(cd "$build" && "$cpack" -G DEB -B "$scratch/package" >/dev/null)
debs=("$scratch"/package/numtally_"$version"_*.deb)
[ -f "${debs[0]}" ] || { echo "no package made:"; ls "$scratch/package"; exit 1; }
dpkg-deb -x "${debs[0]}" "$scratch/deb"
check_tree "$scratch/deb/usr" "Debian package"
depends=$(dpkg-deb -f "${debs[0]}" Depends)
[[ $depends == *libc6* ]] || { echo "package depends on: '$depends'"; exit 1; }
echo "install test passed"
