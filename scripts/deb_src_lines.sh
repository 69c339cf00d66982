#!/usr/bin/env bash
# Prints "deb-src" lines for SUITE from the machine's own apt sources: the
# URIs of its "deb" entries for that suite, one-line (.list) and deb822
# (.sources) files alike, with their signed-by keyring.
#   scripts/deb_src_lines.sh SUITE [APT_ETC_DIR=/etc/apt]
set -euo pipefail
suite=$1
etc=${2:-/etc/apt}

files=()
[ -f "$etc/sources.list" ] && files+=("$etc/sources.list")
for f in "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
  [ -f "$f" ] && files+=("$f")
done
[ ${#files[@]} -gt 0 ] || exit 0

for f in "${files[@]}"; do
  case "$f" in
    *.sources)
      # Stanzas separated by blank lines; fields may continue on indented lines.
      awk -v want="$suite" '
        function flush(   i, j, opt) {
          if (types ~ /(^| )deb( |$)/ && enabled != "no")
            for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
              if (s[j] == want) {
                opt = key != "" ? "[signed-by=" key "] " : ""
                print "deb-src " opt u[i] " " want " main"
              }
          types = ""; key = ""; enabled = ""; nu = 0; ns = 0
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        {
          if ($0 ~ /^[ \t]/) { field = last; value = $0 }
          else {
            field = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
            last = field
          }
          c = split(value, parts, /[ \t]+/)
          for (k = 1; k <= c; k++) {
            if (parts[k] == "") continue
            if (field == "types") types = types " " parts[k]
            else if (field == "uris") u[++nu] = parts[k]
            else if (field == "suites") s[++ns] = parts[k]
            else if (field == "signed-by" && parts[k] ~ /^\//) key = parts[k]
            else if (field == "enabled") enabled = tolower(parts[k])
          }
        }
        END { flush() }' "$f"
      ;;
    *)
      awk -v want="$suite" '
        /^[ \t]*(#|$)/ { next }
        $1 == "deb" {
          i = 2; opts = ""
          if ($i ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
          if ($(i + 1) != want) next
          key = ""
          if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
          print "deb-src " (key != "" ? "[signed-by=" key "] " : "") $i " " want " main"
        }' "$f"
      ;;
  esac
done | awk '!seen[$0]++'
