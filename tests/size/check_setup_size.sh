#!/usr/bin/env bash
# Every package and uninstaller carries setup.exe: it must stay within its
# size limit. A jump of about half a megabyte usually means code the setup
# program links has started using <filesystem>, iostreams or std::locale.
#   check_setup_size.sh setup.exe limit-in-bytes
set -euo pipefail
exe=$1 limit=$2
size=$(stat -c %s "$exe")
if [ "$size" -gt "$limit" ]; then
  echo "FAIL: $(basename "$exe") is $size bytes, more than $limit (README: the setup program's size)"
  exit 1
fi
echo "PASS: $(basename "$exe") is $size bytes (limit $limit)"
