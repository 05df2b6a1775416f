#!/usr/bin/env bash
# Draws the tray program's pictures into data/Icons with ImageMagick: the 16 x 16 state icons
# (a rounded badge per state) and the property page's bitmap. The PNGs are committed; run this
# only to change them.
set -euo pipefail
out=$(cd "$(dirname "$0")/.." && pwd)/data/Icons
mkdir -p "$out"
badge() {  # badge NUMBER FILL MARK-DRAW...
  local n=$1 fill=$2
  shift 2
  convert -size 16x16 xc:none -fill "$fill" -stroke '#202020' -strokewidth 1 \
    -draw 'roundrectangle 1,1 14,14 3,3' -stroke none "$@" -strip "PNG32:$out/icon$n.png"
}
# 150 normal: green with a white plug bar; 143 the program's own icon, the same picture.
badge 150 '#2e9e3e' -fill white -draw 'rectangle 4,7 11,8' -draw 'rectangle 6,4 7,6' -draw 'rectangle 9,4 10,6' \
  -draw 'rectangle 7,9 8,12'
cp "$out/icon150.png" "$out/icon143.png"
# 146 on battery: orange with a battery.
badge 146 '#f08c00' -fill white -draw 'rectangle 3,5 11,11' -draw 'rectangle 12,7 13,9' -fill '#f08c00' \
  -draw 'rectangle 4,6 10,10' -fill white -draw 'rectangle 5,7 7,9'
# 149 battery low: red with an empty battery.
badge 149 '#d42020' -fill white -draw 'rectangle 3,5 11,11' -draw 'rectangle 12,7 13,9' -fill '#d42020' \
  -draw 'rectangle 4,6 10,10' -fill white -draw 'rectangle 5,7 5,9'
# 145 alarm: red with an exclamation mark.
badge 145 '#d42020' -fill white -draw 'rectangle 7,3 8,9' -draw 'rectangle 7,11 8,12'
# 147 overload or bypass: yellow with a black exclamation mark.
badge 147 '#f2d01e' -fill black -draw 'rectangle 7,3 8,9' -draw 'rectangle 7,11 8,12'
# 148 communication lost or warning: blue-grey with a question mark.
badge 148 '#5a6e8c' -fill white -draw 'rectangle 5,3 10,4' -draw 'rectangle 9,5 10,7' -draw 'rectangle 7,7 8,9' \
  -draw 'rectangle 7,11 8,12'
# 151 stopped or no link: grey with a cross.
badge 151 '#8a8a8a' -stroke white -strokewidth 2 -draw 'line 5,5 10,10' -draw 'line 10,5 5,10'
# 140 the property page's picture: a UPS cabinet with its status light.
convert -size 98x110 xc:'#e8e8e8' -fill '#3c4650' -stroke '#202020' -draw 'roundrectangle 22,8 76,104 5,5' \
  -fill '#56626e' -stroke none -draw 'rectangle 28,16 70,40' -fill '#2e9e3e' -draw 'circle 49,56 49,62' \
  -fill '#9aa4ae' -draw 'rectangle 30,74 68,76' -draw 'rectangle 30,82 68,84' -draw 'rectangle 30,90 68,92' \
  -strip "PNG24:$out/bitmap140.png"
