#!/usr/bin/env bash
# Regenerates the wizard's artwork in res/art/ from shapes only (no fonts, no
# third-party pictures), so the output is the same on every machine.
# Also converts the licence texts. Needs ImageMagick and iconv (installed by
# scripts/bootstrap.sh). The results are
# committed; the build only reads them.
set -euo pipefail
cd "$(dirname "$0")/art"
bmp() {  # out, convert arguments
  local out=$1; shift
  # 8-bit palette, no dithering: each picture has far fewer than 256 colours
  # worth telling apart. Run-length encoded (BI_RLE8, which LoadBitmap
  # decodes): the gradients' rows are long runs, a twentieth of the bytes.
  convert "$@" -dither None -colors 256 -type Palette -compress RLE "BMP3:$out"
}

# Left-hand picture of the whole-body pages: 110 x 194 dialog units.
strip() {  # out, top colour, bottom colour
  bmp "$1" -size 165x291 "gradient:$2-$3" \
      -fill 'rgba(255,255,255,0.25)' -draw 'circle 82,110 82,40' \
      -fill 'rgba(255,255,255,0.45)' -draw 'circle 82,110 82,75' \
      -fill white -draw 'roundrectangle 52,190 112,230 8,8' \
      -fill "$2" -draw 'polygon 112,200 135,188 135,232 112,220'
}
strip strip_170.bmp '#1565c0' '#0d2d5e'
strip strip_191.bmp '#00838f' '#00363a'

# Header picture: 35 x 35 dialog units.
bmp header_171.bmp -size 53x53 xc:white -fill '#1565c0' -draw 'roundrectangle 6,14 36,40 5,5' \
    -draw 'polygon 36,21 48,14 48,40 36,33'

# Initialisation window: 200 x 133 dialog units, one per language group.
banner() {  # out, colour, marks
  bmp "$1" -size 300x200 "gradient:$2-#ffffff" -fill white -draw 'roundrectangle 95,60 185,120 12,12' \
      -fill "$2" -draw 'polygon 185,75 220,55 220,125 185,105' \
      -fill '#ffffff' -draw "$3"
}
banner init_169.bmp '#c62828' 'circle 40,170 40,160'
banner init_185.bmp '#6a1b9a' 'circle 40,170 40,160 circle 70,170 70,160'
banner init_186.bmp '#1565c0' 'rectangle 30,162 50,178'
banner init_190.bmp '#37474f' 'rectangle 30,162 90,178'

# Icons: the program and the uninstaller.
icon() {  # out, colour
  convert -size 32x32 xc:none -fill "$2" -draw 'roundrectangle 2,8 20,24 3,3' \
      -draw 'polygon 20,12 30,6 30,26 20,20' \( +clone -resize 16x16 \) "ICO:$1"
}
icon app_155.ico '#1565c0'
icon uninstall_156.ico '#c62828'

# Licence texts: UTF-16LE with a byte-order mark and CR LF line ends, from the
# UTF-8 sources in res/licence/.
cd ../licence
for lang in en gb big5 jp; do
  { printf '\xff\xfe'; sed 's/$/\r/' "licence_$lang.txt" | iconv -f UTF-8 -t UTF-16LE; } > "licence_$lang.utf16"
done
