#!/usr/bin/env bash
# Fails unless a shared library's dynamic symbol table defines exactly the functions named after
# it and nothing else: check_exports.sh LIBRARY FUNCTION...
set -eu
lib=$1
shift
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort)
want=$(printf '%s\n' "$@" | sort)
if [ "$got" != "$want" ]; then
  echo "exported functions differ:"; diff <(echo "$want") <(echo "$got") || true; exit 1
fi
others=$(nm -D --defined-only "$lib" | awk '$2 !~ /^[TtWwAa]$/ {print $3}')
if [ -n "$others" ]; then echo "unexpected exported symbols:"; echo "$others"; exit 1; fi
echo "exports ok"
