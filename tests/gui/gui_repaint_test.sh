#!/bin/sh
# gui_repaint_test.sh PREFIX SECONDS PROGRAM CLI: runs the repaint window
# test with its pictures and saved results in a fresh folder, then repaints
# the same picture with ostrivel-repaint and the settings the test used in
# the editor: each result must be the same file to the byte.
set -u
prefix=$1 seconds=$2 program=$3 cli=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
OSTRIVEL_E2E_DIR=$dir sh "$(dirname "$0")/run-in-wine.sh" "$prefix" "$seconds" "$program" || exit $?

status=0
same() {
  method=$1
  shift
  "$cli" "$method" "$dir/input.png" "$dir/cli-$method.png" -q "$@" || status=1
  if cmp -s "$dir/editor-$method.png" "$dir/cli-$method.png"; then
    echo "$method: the editor's result is ostrivel-repaint's"
  else
    echo "FAIL: $method: the editor's result differs from ostrivel-repaint's"
    status=1
  fi
}
# The values the dialogs show for the slider positions the window test set.
same original --smoothness 2.00 --weak-edges 40 --flatten 1 --flatten-level 0.20 --sharpen 1 --sharpen-strength 24
same smudge --details 30 --prolongation 70 --sigma 20
same redraw --details 2.0 --cut 102 --fuse 1 --level 0
exit $status
