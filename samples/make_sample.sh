#!/usr/bin/env bash
# Rebuilds samples/sample.pdf from samples/sample.ms (needs groff and ghostscript).
set -euo pipefail
cd "$(dirname "$0")"
groff -ms -Tps sample.ms > /tmp/quirefold-sample.ps
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile=sample.pdf /tmp/quirefold-sample.ps
