#!/bin/sh
# Runs a command in a temporary folder of its own, removed afterwards whatever it left:
# under Wine the build folder is on drive Z:, the whole machine, and no test writes there.
folder=$(mktemp -d "${TMPDIR:-/tmp}/velmora-api.XXXXXX") || exit 1
cd "$folder" || exit 1
"$@"
status=$?
cd / && rm -rf "$folder"
exit $status
