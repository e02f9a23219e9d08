#!/usr/bin/env bash
# Makes the brand wordmarks (24-bit BMP, as the window loads them) from text.
# Header marks: 136 x 40 on white; finish-view marks: 150 x 120 on RGB(0,29,97); the band below is painted.
set -euo pipefail
cd "$(dirname "$0")"
mark() { # name text colour
  convert -size 136x40 xc:white -font DejaVu-Sans-Bold -pointsize 20 -fill "$3" \
    -gravity center -annotate +0-3 "$2" \
    -font DejaVu-Sans -pointsize 8 -fill '#6a7a99' -gravity south -annotate +0+1 "weather" \
    -type TrueColor BMP3:"$1.bmp"
}
band() { # name text
  convert -size 150x120 'xc:rgb(0,29,97)' -font DejaVu-Sans-Bold -pointsize 22 -fill white \
    -gravity north -annotate +0+36 "$2" \
    -fill '#9fb3e0' -draw 'rectangle 30,76 120,78' \
    -font DejaVu-Sans -pointsize 11 -fill '#9fb3e0' -gravity north -annotate +0+86 "Kestrova" \
    -type TrueColor BMP3:"$1.bmp"
}
mark drevanto "Drevanto" '#001d61'
mark lumeva "Lumeva" '#0b5a3a'
band drevanto_left "Drevanto"
band lumeva_left "Lumeva"
