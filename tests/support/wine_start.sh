#!/bin/sh
# Makes the Wine prefix the Windows runs share and leaves its server running. A first boot of
# a prefix can fail on a loaded machine; it is tried afresh up to three times, and what Wine
# printed is shown for each failed try, since nothing else would tell why.
prefix=$1
log=$prefix.log
for try in 1 2 3; do
  wineserver -k >/dev/null 2>&1 </dev/null
  rm -rf "$prefix" && mkdir -p "$prefix" || exit 1
  # The server's output goes nowhere: it outlives this script and would hold CTest's pipe open.
  if wineserver -p >/dev/null 2>&1 </dev/null && wineboot --init >"$log" 2>&1 </dev/null; then
    exit 0
  fi
  echo "Wine prefix: try $try of 3 failed; what Wine printed:"
  cat "$log"
  sleep 2
done
exit 1
