#!/usr/bin/env bash
# The instance marker words appear in the program exactly once: as the fresh
# pair of its marker group. Another copy of any of the three pairs, aligned or
# not, in code or data, is a second group for the packager and the
# uninstaller writer as soon as a build places it on an 8-byte boundary.
#   check_marker_words.sh PROGRAM.exe
set -euo pipefail
program=$1
name=$(basename "$program")
count() { { LC_ALL=C grep -obUaP "$1" "$program" || true; } | wc -l; }
fresh=$(count '\xee\xee\xee\xee\xff\xff\xff\xff')
uninstaller=$(count '\x21\x43\x65\x87\xaa\xaa\xaa\xaa')
update=$(count '\xbb\xbb\xbb\xbb\xdd\xdd\xdd\xdd')
if [ "$fresh" -ne 1 ] || [ "$uninstaller" -ne 0 ] || [ "$update" -ne 0 ]; then
  echo "FAIL: $name holds the fresh pair $fresh times, the uninstaller pair $uninstaller times and the update pair $update times (expected 1, 0, 0)"
  exit 1
fi
echo "PASS: $name holds one marker pair, its own group's"
