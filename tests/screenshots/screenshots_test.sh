#!/usr/bin/env bash
# Makes the README's pictures with tools/screenshots.sh into a folder of its own, and checks
# with ImageMagick that each is a window's picture and not a blank one: a window's size, many
# colours spread across it, and in the CAD window a 3D view that shows more than its background.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$root/tools/screenshots.sh" --build "$build" "$out"
failed=0
for picture in design-window cad-window; do
  file=$out/$picture.png
  if [[ ! -s $file ]]; then
    echo "$picture.png was not made"
    failed=1
    continue
  fi
  read -r width height colours deviation < <(identify -format '%w %h %k %[fx:standard_deviation]\n' "$file")
  echo "$picture.png: ${width}x$height, $colours colours, standard deviation $deviation"
  if ((width < 600 || height < 400)); then
    echo "$picture.png is not the size of the window"
    failed=1
  fi
  if ((colours < 64)) || awk -v d="$deviation" 'BEGIN { exit !(d < 0.05) }'; then
    echo "$picture.png is blank"
    failed=1
  fi
  # The 3D view, right of the document tree, shows the part, not only its bare gradient.
  if [[ $picture == cad-window ]] && ((width >= 600 && height >= 400)); then
    view="$((width * 6 / 10))x$((height * 8 / 10))+$((width * 35 / 100))+$((height / 20))"
    spread=$(identify -format '%[fx:standard_deviation]' "${file}[$view]")
    echo "the 3D view: standard deviation $spread"
    if awk -v d="$spread" 'BEGIN { exit !(d < 0.08) }'; then
      echo "cad-window.png shows no part in its 3D view"
      failed=1
    fi
  fi
done
exit "$failed"
