#!/usr/bin/env bash
# The converter on the bundled samples: each sample converted into the other
# two formats (a batch per format, checked with --verify), the --info of every
# result, and a picture of each sample. Everything goes to build/samples/.
#   bash samples/demo.sh [BIN_DIR] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/bin}
out=${2:-build/samples}
samples=(samples/house.obj samples/blocks.3ds samples/site.dxf)
mkdir -p "$out"
for to in obj 3ds dxf; do
  others=()
  for sample in "${samples[@]}"; do [[ $sample == *.$to ]] || others+=("$sample"); done
  "$bin/tamlorn-convert" --to "$to" --verify --force -o "$out" "${others[@]}"
done
for sample in "${samples[@]}"; do
  name=$(basename "${sample%.*}")
  for to in obj 3ds dxf; do
    [[ $sample == *.$to ]] && continue
    echo
    "$bin/tamlorn-convert" --info "$out/$name.$to"
  done
  "$bin/tamlorn-convert" --preview "$out/$name.png" "$sample"
  echo "picture of $sample: $out/$name.png"
done
