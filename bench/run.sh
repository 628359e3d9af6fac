#!/usr/bin/env bash
# The load benchmark, from a clone alone:
#
#   bash bench/run.sh [--quick]
#
# Installs what is missing (Debian packages), builds the module and the
# stand-in host (Release, build-bench/), the floor program and the peer
# readers (tinyobjloader, assimp, lib3ds), generates the benchmark files with
# the generators beside this script, and times on one pinned core (taskset -c 0)
# the median of RUNS runs (default 5, after one unmeasured run, each right after a touch of fresh
# memory: see measure) of each program on each file:
#   ours       the whole load (tamlorn-load-bench: the load callback, object and all)
#   ours-read  the read stage alone (a load whose flags ask for no object)
#   floor      this machine's floor: read, split and convert, and first-touch the
#              bytes the finished object holds (tamlorn-bench-floor)
#   peers      their load call alone
# and, for OBJ and DXF, the save of the loaded object as text of its own format
# (ours-save, MB/s of text written) and, for OBJ, a whole conversion OBJ to OBJ
# as one process: tamlorn-convert IN OUT against assimp's "assimp export IN OUT".
# It prints one table (seconds, MB/s, peak memory, each time over ours) and the
# targets, and writes bench/results/ (table.md, results.csv, chart.svg, runs.txt: every run's seconds).
# --quick is a smoke run on tiny files, one run each, written to build-bench/quick/.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = --quick ] && quick=1
runs=${RUNS:-5}
build=build-bench
data=$build/data
results=bench/results
if ((quick)); then
  runs=1
  data=$build/quick
  results=$build/quick
fi
mkdir -p "$data" "$results"

# ---- What the run needs ----------------------------------------------------------------
packages="cmake g++ python3 util-linux time libtinyobjloader-dev libassimp-dev assimp-utils lib3ds-dev gnuplot-nox"
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  # shellcheck disable=SC2086  # one word per package
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAMLORN_TESTS=OFF -DTAMLORN_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target tamlorn-load-bench tamlorn-convert >/dev/null
bin=$build/bin
g++ -O2 -std=c++20 -Wall -Wextra -Werror -o "$bin/tamlorn-bench-floor" bench/floor.cpp
g++ -O2 -std=c++20 -Wall -Wextra -Werror -o "$bin/tamlorn-bench-warm" bench/warm.cpp
g++ -O2 -std=c++17 -o "$bin/peer-tinyobj" bench/peer_tinyobj.cpp -ltinyobjloader
g++ -O2 -std=c++17 -o "$bin/peer-assimp" bench/peer_assimp.cpp -lassimp
gcc -O2 -o "$bin/peer-lib3ds" bench/peer_lib3ds.c -l3ds

# ---- The files ---------------------------------------------------------------------------
# name generator option count
if ((quick)); then
  files="obj-small gen_obj.py --vertices 2500
obj-large gen_obj.py --vertices 20000
dxf gen_dxf.py --faces 2000
3ds gen_3ds.py --triangles 5000"
else
  files="obj-250k gen_obj.py --vertices 250000
obj-2M gen_obj.py --vertices 2000000
dxf-200k gen_dxf.py --faces 200000
3ds-500k gen_3ds.py --triangles 500000"
fi
while read -r name generator option count; do
  extension=${generator#gen_}
  path=$data/$name.${extension%.py}
  [ -s "$path" ] || python3 "bench/$generator" "$option" "$count" --out "$path" >/dev/null
done <<<"$files"

# ---- Timing ------------------------------------------------------------------------------
# Runs a program once unmeasured, then RUNS times pinned to core 0, and prints "median-seconds peak-rss-kb
# object-bytes out-bytes" (the last three from the median run's line; "-" where a program has none).
# On a virtual machine, memory not touched for a while costs many times more to
# touch again: every run, measured or not, follows a touch of $warm MB (the
# file's size times $warmTimesFile, at least $warmLeastMb, at most $warmMostMb:
# more than any program here holds at its peak, which is at most 14 times the
# large OBJ file (the floor) and 16.6 times the small one (our whole load,
# whose fixed part counts more there)), and one unmeasured run comes first,
# for every program alike.
# Each run's seconds go to runs.txt.
# A Linux guest with free page reporting hands freed memory back to its
# hypervisor, and a run that touches memory handed back while it runs pays for
# its backing again (a 0.75 s load took 3.2 s with 1.2 GB handed back during
# it). Where the kernel counts what it hands back, a run during which it handed
# back $retakeMb MB or more is taken again, up to $maxRetakes times per program
# and file, for every program alike; runs.txt keeps the retaken runs in brackets
# with the MB handed back, and gives the MB of a run kept when no retake was left.
warmTimesFile=17
warmLeastMb=256
warmMostMb=3072
reported=/sys/module/page_reporting/parameters/reported_kib
retakeMb=256
maxRetakes=3
reportedKib() { cat "$reported" 2>/dev/null || echo 0; }
measure() {
  local line seconds="" log="" before handed taken=0 retakes=0
  "$bin/tamlorn-bench-warm" "$warm"
  taskset -c 0 "$@" >/dev/null 2>&1 || true
  while ((taken < runs)); do
    "$bin/tamlorn-bench-warm" "$warm"
    before=$(reportedKib)
    if ! line=$(taskset -c 0 "$@" 2>/dev/null | grep -m1 'seconds='); then
      echo "- - - -"
      return
    fi
    line=${line#*seconds=}
    handed=$((($(reportedKib) - before) >> 10))
    if ((handed >= retakeMb && retakes < maxRetakes)); then
      retakes=$((retakes + 1))
      log+=" [${line%% *} $handed MB]"
      continue
    fi
    taken=$((taken + 1))
    log+=" ${line%% *}"
    ((handed < retakeMb)) || log+=" ($handed MB, no retake left)"
    seconds+="$line"$'\n'
  done
  echo "${*##*/}:$log" >>"$runsLog"
  line=$(printf '%s' "$seconds" | sort -g | sed -n "$(((runs + 1) / 2))p")
  awk -v l="$line" 'BEGIN {
      split(l, f, " "); rss = l; sub(/.*peak_rss_kb=/, "", rss); sub(/ .*/, "", rss)
      bytes = "-"; if (l ~ /object_bytes=/) { bytes = l; sub(/.*object_bytes=/, "", bytes); sub(/ .*/, "", bytes) }
      out = "-"; if (l ~ /out_bytes=/) { out = l; sub(/.*out_bytes=/, "", out); sub(/ .*/, "", out) }
      print f[1], rss, bytes, out
    }'
}

csv=$results/results.csv
runsLog=$results/runs.txt
: >"$runsLog"
echo "file,bytes,program,seconds,peak_rss_kb,object_bytes,out_bytes" >"$csv"
# A whole process, timed by time(1).
process=(/usr/bin/time -o /dev/stdout -f "seconds=%e peak_rss_kb=%M")
while read -r name generator _; do
  extension=${generator#gen_}
  extension=${extension%.py}
  path=$data/$name.$extension
  size=$(wc -c <"$path")
  warm=$((size * warmTimesFile >> 20))
  warm=$((warm < warmLeastMb ? warmLeastMb : (warm > warmMostMb ? warmMostMb : warm)))
  cat "$path" >/dev/null  # the page cache holds the file for every program alike
  read -r seconds rss objectBytes _ < <(measure "$bin/tamlorn-load-bench" "$path")
  echo "$name,$size,ours,$seconds,$rss,$objectBytes,-" >>"$csv"
  read -r seconds rss _ _ < <(measure "$bin/tamlorn-load-bench" --read "$path")
  echo "$name,$size,ours-read,$seconds,$rss,-,-" >>"$csv"
  read -r seconds rss _ _ < <(measure "$bin/tamlorn-bench-floor" "$path" "${objectBytes/-/0}")
  echo "$name,$size,floor,$seconds,$rss,-,-" >>"$csv"
  out=$data/out.$extension
  if [ "$extension" != 3ds ]; then
    read -r seconds rss _ outBytes < <(measure "$bin/tamlorn-load-bench" --save "$out" "$path")
    echo "$name,$size,ours-save,$seconds,$rss,-,$outBytes" >>"$csv"
  fi
  if [ "$extension" = obj ]; then
    read -r seconds rss _ _ < <(measure "${process[@]}" "$bin/tamlorn-convert" "$path" "$out")
    echo "$name,$size,ours-convert,$seconds,$rss,-,-" >>"$csv"
    read -r seconds rss _ _ < <(measure "${process[@]}" assimp export "$path" "$out")
    echo "$name,$size,assimp-export,$seconds,$rss,-,-" >>"$csv"
  fi
  rm -f "$out"
  case $extension in
    obj) peers="tinyobj assimp" ;;
    dxf) peers="assimp" ;;
    3ds) peers="lib3ds assimp" ;;
  esac
  for peer in $peers; do
    read -r seconds rss _ _ < <(measure "$bin/peer-$peer" "$path")
    echo "$name,$size,$peer,$seconds,$rss,-,-" >>"$csv"
  done
done <<<"$files"

# ---- Table, targets and chart ----------------------------------------------------------------
machine="$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, $(uname -sr)"
awk -F, -v runs="$runs" -v date="$(date -u +%Y-%m-%d)" -v machine="$machine" -v quick="$quick" -f bench/report.awk \
  "$csv" | tee "$results/table.md"
if [ -r "$reported" ]; then
  echo "Runs taken again because the guest handed $retakeMb MB or more back to its hypervisor during them:" \
    "$(grep -o ' \[[0-9]' "$runsLog" | wc -l) (runs.txt: in brackets)." | tee -a "$results/table.md"
fi

# A time under the clock's resolution (0.00 s) has no rate and stays out of the chart.
awk -F, 'NR > 1 && $4 != "-" && $4 > 0 {
    mbs = $2 / 1e6 / $4; key = $1; if (!(key in seen)) { seen[key] = 1; order[++n] = key }
    value[key, $3] = sprintf("%.1f", mbs)
  }
  END {
    split("ours ours-read floor tinyobj assimp lib3ds", programs, " ")
    printf "file"; for (p = 1; p <= 6; ++p) printf " %s", programs[p]; printf "\n"
    for (i = 1; i <= n; ++i) {
      printf "%s", order[i]
      for (p = 1; p <= 6; ++p) printf " %s", ((order[i], programs[p]) in value) ? value[order[i], programs[p]] : "-"
      printf "\n"
    }
  }' "$csv" >"$results/chart.dat"
gnuplot <<EOF
set terminal svg size 900,480 dynamic font "sans,12"
set output "$results/chart.svg"
set title "Load throughput, MB/s (higher is better), median of $runs, one core\n$(date -u +%Y-%m-%d), $machine" noenhanced
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set datafile missing "-"
set key top right noenhanced
set ylabel "MB/s"
set grid ytics
set yrange [0:*]
plot for [c=2:7] "$results/chart.dat" using c:xtic(1) title columnheader
EOF
rm -f "$results/chart.dat"
echo "written: $results/table.md $results/results.csv $results/chart.svg $runsLog"
# A program of ours that failed on a file fails the run (the smoke run in CI is there for that).
if awk -F, '$3 ~ /^ours/ && $4 == "-" { bad = 1 } END { exit !bad }' "$csv"; then
  echo "bench: a program of ours failed; see $csv" >&2
  exit 1
fi
