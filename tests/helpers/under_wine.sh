#!/usr/bin/env bash
# Runs a Windows test program under Wine, and once more only if Wine itself lost its server as
# the program started ("wine client error"): a server that is shutting down after its last
# client can meet a new one. A failure of the program itself is never run again.
#   under_wine.sh PATH/TO/wine64 PROGRAM.exe [ARGUMENTS...]
wine=$1
shift
said=$(mktemp)
trap '[ "$BASHPID" = "$$" ] && { rm -f "$said"; }' EXIT  # a child between fork and exec must not
for attempt in 1 2; do
  "$wine" "$@" 2> >(tee "$said" >&2)
  status=$?
  wait  # for tee
  if [ "$status" -ne 0 ] && [ "$attempt" -eq 1 ] && grep -q '^wine client error' "$said"; then
    echo "under_wine.sh: Wine lost its server; running $1 once more" >&2
    sleep 1
    continue
  fi
  exit "$status"
done
