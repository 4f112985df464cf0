#!/usr/bin/env bash
# Fails unless the library's dynamic symbol table defines exactly the six quirefold_ functions.
set -eu
lib=$1
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort)
want=$(printf '%s\n' quirefold_cleanup quirefold_create quirefold_create_sized \
  quirefold_init quirefold_last_error quirefold_page_count | sort)
if [ "$got" != "$want" ]; then
  echo "exported functions differ:"; diff <(echo "$want") <(echo "$got") || true; exit 1
fi
others=$(nm -D --defined-only "$lib" | awk '$2 !~ /^[TtWwAa]$/ {print $3}')
if [ -n "$others" ]; then echo "unexpected exported symbols:"; echo "$others"; exit 1; fi
echo "exports ok"
