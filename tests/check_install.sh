#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it the ways a newcomer would: the example host
# programs built through find_package(quirefold) and through pkg-config, the installed tool and
# the installed Python package, both with no library path set; then builds the Debian package,
# unpacks it and runs what it holds; then installs the Python package with pip into a venv.
set -euo pipefail
build_dir=$1
src_dir=$2
sample=$src_dir/samples/sample.pdf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# Nothing may find the libraries but the installation itself.
unset LD_LIBRARY_PATH QUIREFOLD_LIBRARY
python=/usr/bin/python3

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
cmp "$work/a.pdf" "$work/b.pdf"
cmp "$work/c.pdf" "$work/d.pdf"

# The installed tool and Python package find the library by themselves.
"$prefix/bin/quirefold" --count "$work/a.pdf"
"$prefix/bin/quirefold" "$sample" "$work/e.pdf"
pydir=$(dirname "$(find "$prefix" -path '*/quirefold/__init__.py' | head -n1)")
(cd "$work" && PYTHONPATH=$(dirname "$pydir") "$python" -c "
import quirefold
r = quirefold.make_booklet('$sample', '$work/f.pdf', sheet='a4')
assert quirefold.library_path.startswith('$prefix'), quirefold.library_path
assert (r.sheets, r.sheet) == (2, 'A4'), r
print('python from the prefix:', quirefold.__version__, quirefold.library_path)
")
cmp "$work/e.pdf" "$work/f.pdf"

# The Debian package: built, unpacked, run from where it was unpacked.
(cd "$build_dir" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(find "$work/deb" -maxdepth 1 -name 'quirefold_*.deb' | head -n1)
dpkg-deb -I "$deb" > "$work/deb-info"   # not piped into grep -q: pipefail would see SIGPIPE
grep -q "Depends: .*python3" "$work/deb-info"
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/quirefold usr/include/quirefold_impose.h usr/lib/pkgconfig/quirefold_impose.pc \
         usr/lib/cmake/quirefold/quirefoldConfig.cmake usr/share/man/man1/quirefold.1 \
         usr/lib/python3/dist-packages/quirefold/__init__.py; do
  test -e "$work/root/$f" || { echo "missing from the package: $f"; exit 1; }
done
"$work/root/usr/bin/quirefold" "$sample" "$work/g.pdf"
cmp "$work/e.pdf" "$work/g.pdf"
(cd "$work" && PYTHONPATH=$work/root/usr/lib/python3/dist-packages "$python" -c "
import quirefold
assert quirefold.page_count('$work/g.pdf') == 4
assert quirefold.library_path.startswith('$work/root/'), quirefold.library_path
print('python from the package:', quirefold.library_path)
")

# pip, offline, with Debian's setuptools, into a venv.
if "$python" -c "import venv, ensurepip, setuptools" 2>/dev/null; then
  cp -r "$src_dir/python" "$work/pysrc"
  "$python" -m venv --system-site-packages "$work/venv" >/dev/null
  "$work/venv/bin/pip" install -q --no-index --no-build-isolation "$work/pysrc"
  (cd "$work" && QUIREFOLD_LIBRARY=$libdir/libquirefold_impose.so "$work/venv/bin/python" -c "
import quirefold
assert quirefold.__version__ == '0.2.0' and quirefold.page_count('$sample') == 6
print('python from pip:', quirefold.__file__)
")
else
  echo "pip check skipped: python3-venv, python3-pip or python3-setuptools missing"
fi
echo "install ok"
