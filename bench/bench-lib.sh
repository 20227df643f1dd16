# shellcheck shell=bash
# Measuring whole saves, shared by the benchmark scripts (sourced, not run).
# $work (a folder of the caller's) must be set.

# measure LABEL OUTPUT_FOLDER COMMAND...: runs the command with its output in
# $work/LABEL.out and .err, and prints "LABEL SECONDS PEAK_KB" (wall time and
# the largest resident size of the command and its children). Exits the
# script when the command fails.
measure() {
  local label=$1 out=$2 seconds kilobytes
  shift 2
  mkdir -p "$out"
  /usr/bin/time -f "%e %M" -o "$work/$label.time" "$@" >"$work/$label.out" 2>"$work/$label.err" ||
    {
      echo "$label failed:" >&2
      cat "$work/$label.err" >&2
      exit 1
    }
  read -r seconds kilobytes <"$work/$label.time"
  echo "$label $seconds $kilobytes"
}

# own_split OUTPUT_FILE: larkspool-save's own account of a save, as
# "BROWSER_SECONDS DOWNLOAD_RUN_SECONDS PEAK_KB" (its own process only).
own_split() {
  grep -o 'Browser [0-9.]* s, download run [0-9.]* s, peak memory [0-9]* kB' "$1" |
    awk '{print $2, $6, $10}'
}

# save_with_larkspool BUILD_FOLDER URL FOLDER [OPTION...]: saves URL and the
# pages it links, with their pictures, as the benchmarks compare it, and
# prints "larkspool WALL_SECONDS PEAK_KB BROWSER_SECONDS RUN_SECONDS OWN_KB".
save_with_larkspool() {
  local build=$1 address=$2 folder=$3 line
  shift 3
  line=$(measure larkspool "$folder" "$build/src/larkspool-save" "$address" --folder "$folder" \
    --no-subfolder --links all --pictures --quiet "$@") || exit 1
  echo "$line $(own_split "$work/larkspool.out")"
}

# save_with_wget URL FOLDER: the same save by wget; prints "wget WALL_SECONDS
# PEAK_KB".
save_with_wget() {
  measure wget "$2" wget -q -r -l 1 -p -k -nH -e robots=off --no-proxy -P "$2" "$1"
}

# median NUMBER...: the middle one (the mean of the middle two for an even
# count).
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B: A / B to two places.
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", a / b }'
}
