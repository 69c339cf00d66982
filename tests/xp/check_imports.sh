#!/usr/bin/env bash
# Fails when a Windows program imports a function (or a DLL) that Windows XP SP3
# lacks, naming each, or when its PE header asks for a newer system than XP.
#   check_imports.sh OBJDUMP PROGRAM.exe REFUSED-LIST
# REFUSED-LIST: tests/xp/vista_imports.txt (one name per line, "dll NAME" for a
# whole DLL, "#" comments).
set -euo pipefail
objdump=$1 program=$2 list=$3

dump=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program"; exit 1; }

# "DLL NAME" / "FUNCTION" pairs of the import table (ordinal-only entries have no name).
imports=$(awk '/^[ \t]*DLL Name:/ { dll = $3; next }
               /^[^\t]/ { dll = "" }
               dll != "" && /^\t[0-9a-f]+\t *[0-9]+ +[^ ]+/ { print dll, $3 }' <<<"$dump")
[ -n "$imports" ] || { echo "FAIL: no imports read from $program"; exit 1; }

failed=0
while read -r kind name rest; do
  case $kind in ''|'#'*) continue ;; esac
  if [ "$kind" = dll ]; then
    pattern=$name why=${rest#\# }
    while read -r dll function; do
      # shellcheck disable=SC2053  # the pattern may hold a "*"
      if [[ ${dll,,} == ${pattern,,} ]]; then
        echo "FAIL: $(basename "$program") imports $dll!$function: Windows XP SP3 has no $dll ($why)"
        failed=1
      fi
    done <<<"$imports"
  else
    function=$kind why=${name#\#}; why="${why# } $rest"; why=${why# }
    hits=$(awk -v f="$function" '$2 == f { print $1 }' <<<"$imports")
    for dll in $hits; do
      echo "FAIL: $(basename "$program") imports $dll!$function, which Windows XP SP3 does not export ($why)"
      failed=1
    done
  fi
done <"$list"

# The loader of XP (5.1) refuses a program that asks for a newer system.
for field in OSystem Subsystem; do
  major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' <<<"$dump")
  minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' <<<"$dump")
  if [ -z "$major" ] || [ $((major * 100 + minor)) -gt 501 ]; then
    echo "FAIL: $(basename "$program") asks for ${field} version ${major:-?}.${minor:-?}, above Windows XP's 5.1"
    failed=1
  fi
done

count=$(sort -u <<<"$imports" | wc -l)
if [ "$failed" -ne 0 ]; then
  echo "FAIL: $(basename "$program") does not start on Windows XP SP3"
  exit 1
fi
echo "PASS: $(basename "$program"): $count imports, none of them Vista or later"
