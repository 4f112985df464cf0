#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the example host program against it
# twice, through find_package(quirefold) and through pkg-config, then runs both.
set -euo pipefail
build_dir=$1
src_dir=$2
sample=$src_dir/samples/sample.pdf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -f "$prefix/include/quirefold.h"
test -f "$prefix/include/quirefold_impose.h"
test -f "$prefix/share/man/man1/quirefold.1"
libdir=$(dirname "$(find "$prefix" -name 'libquirefold.so' | head -n1)")

# find_package
cmake -S "$src_dir/examples" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cm" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cm/booklet" "$sample" "$work/a.pdf"
LD_LIBRARY_PATH=$libdir "$work/cm/impose" "$sample" "$work/c.pdf"

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$work/pc-booklet" "$src_dir/examples/booklet.c" $(pkg-config --cflags --libs quirefold)
LD_LIBRARY_PATH=$libdir "$work/pc-booklet" "$sample" "$work/b.pdf"
cc -o "$work/pc-impose" "$src_dir/examples/impose.c" $(pkg-config --cflags --libs quirefold_impose)
LD_LIBRARY_PATH=$libdir "$work/pc-impose" "$sample" "$work/d.pdf"
cmp "$work/c.pdf" "$work/d.pdf"

cmp "$work/a.pdf" "$work/b.pdf"
LD_LIBRARY_PATH=$libdir "$prefix/bin/quirefold" --count "$work/a.pdf"
echo "install ok"
