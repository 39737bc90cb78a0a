#!/usr/bin/env bash
# What running a job on a farm costs over rendering it on one machine. A 200-frame 1080p job (a
# generated plate with sound, a small icon) is rendered by `tilvane render`, and as a farm job on a
# one-node Slurm cluster started here by scripts/slurm-cluster.sh: `tilvane farm submit --chunk 20`,
# then `tilvane farm wait`; then the job folder's own task commands (tasks.txt) are run again
# straight, as many at once as Slurm ran them, and its join (join.txt): the same work without
# Slurm. Prints the wall times; the farm's overhead (the farm job less the same work run straight)
# in all and per task, as a share of the single render; Slurm's own account of the tasks and of the
# join; after checking that the farm's output holds the single render's frames. Runs as root (slurmd must).
#
# Usage: bench/farm_overhead.sh [TILVANE]    (default: build/native/tools/tilvane/tilvane)
# FRAMES (200), CHUNK (20), SIZE (1920x1080) and OUTPUT (mosaic.mov; a name with #### gives an
# image sequence, which needs no join) change the job; EXTRA adds render options to both. RUNS (3)
# times each that many times, taking turns; the figures are the medians.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/tools/tilvane/tilvane}")
frames=${FRAMES:-200}
chunk=${CHUNK:-20}
size=${SIZE:-1920x1080}
output=${OUTPUT:-mosaic.mov}
runs=${RUNS:-3}
read -r -a extra <<<"${EXTRA:-}"
# Images carry no sound: said once here rather than warned about by every task.
[[ "$output" != *'####'* ]] || extra+=(--no-audio)

die() {
  echo "farm_overhead.sh: $*" >&2
  exit 2
}
[ -x "$tool" ] || die "no tilvane at $tool; build it (cmake --build build/native --target tilvane) or name it."
"$tool" farm --help >/dev/null 2>&1 || die "$tool has no farm command; build one that does."
command -v ffmpeg >/dev/null || die "ffmpeg is not installed; run scripts/deps.sh as root."

work=$(mktemp -d /tmp/tilvane-farm-bench.XXXXXX)
cluster=$work/cluster
cleanup() {
  "$root/scripts/slurm-cluster.sh" stop "$cluster" || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { echo "$EPOCHREALTIME"; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# The inputs: a plate movie of intra-coded frames (any frame starts a task without decoding its
# neighbours) with a tone, and an icon.
fps=25
ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=$fps" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -frames:v "$frames" \
  -t "$(awk -v f="$frames" -v r="$fps" 'BEGIN { print f / r }')" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le "$work/plate.mov"
ffmpeg -v error -f lavfi -i "testsrc2=size=64x64" -frames:v 1 "$work/icon.png"
job_options=(--icon "$work/icon.png" --displacement "$work/plate.mov" "${extra[@]}")
export SLURM_CONF
SLURM_CONF=$("$root/scripts/slurm-cluster.sh" start "$cluster" $$)
node=$(sinfo --noheader --Node --format='%N, %c cpus, %m MB')
node_cpus=$(sinfo --noheader --Node --format=%c)

# The two outputs as decoded frames (a sequence read in order by its pattern).
framemd5() {
  local path=$1
  if [[ "$path" == *'####'* ]]; then
    ffmpeg -v error -start_number 0 -i "${path/'####'/%04d}" -map 0:v -f framemd5 - | grep -v '^#'
  else
    ffmpeg -v error -i "$path" -map 0:v -f framemd5 - | grep -v '^#'
  fi
}
# The single render and the farm job take turns, so a neighbour's load on this machine falls on
# both alike; each run's outputs replace the last's.
singles=() farms=() submits=() directs=()
for run in $(seq "$runs"); do
  rm -rf "$work/single" "$work/farm"
  mkdir -p "$work/single" "$work/farm"
  echo "Run $run of $runs: $frames frames of $size to $output, on this machine ..." >&2
  t0=$(now)
  "$tool" render "${job_options[@]}" -o "$work/single/$output" --quiet
  t1=$(now)
  singles+=("$(seconds_between "$t0" "$t1")")

  echo "Run $run of $runs: the same as a farm job, chunks of $chunk on one node ($node) ..." >&2
  # Jobs numbered above this one are this run's.
  first_job=$(squeue --noheader --states=all --format=%A | sort -n | tail -n 1)
  first_job=$((${first_job:-0} + 1))
  t2=$(now)
  job_dir=$("$tool" farm submit "${job_options[@]}" -o "$work/farm/$output" --chunk "$chunk" \
    --job-name tilvane-bench | tail -n 1)
  t3=$(now)
  "$tool" farm wait "$job_dir" >&2
  t4=$(now)
  submits+=("$(seconds_between "$t2" "$t3")")
  farms+=("$(seconds_between "$t2" "$t4")")
  [ -f "$job_dir/tasks.txt" ] || die "$job_dir holds no tasks.txt, the command of each task."
  # Once is enough: both renders are exact.
  if [ "$run" -eq 1 ] &&
    [ "$(framemd5 "$work/single/$output")" != "$(framemd5 "$work/farm/$output")" ]; then
    die "the farm's frames differ from the single render's; no figure."
  fi

  # As many tasks at once as the node's cores hold, as Slurm ran them.
  cpus_per_task=$(squeue --noheader --states=all --array --format='%i %C' |
    awk -v first="$first_job" '$1 ~ /_/ && $1 + 0 >= first { print $2; exit }')
  at_once=$((node_cpus / ${cpus_per_task:-1}))
  [ "$at_once" -ge 1 ] || at_once=1
  # Straight runs write everything again: the outputs and a movie's intermediate frames go first.
  find "$work/farm" -maxdepth 1 -type f -delete
  rm -rf "${job_dir:?}/frames"/*
  echo "Run $run of $runs: the job's task commands run straight, $at_once at once ..." >&2
  t5=$(now)
  # Each in a session of its own, as Slurm runs its tasks: the kernel shares the cores among
  # sessions (autogroup), so on a busy machine the tasks would otherwise get less than Slurm's do.
  tr '\n' '\0' <"$job_dir/tasks.txt" |
    xargs -0 -n 1 -P "$at_once" setsid --wait bash -c 2>>"$work/straight.log"
  [ ! -f "$job_dir/join.txt" ] ||
    setsid --wait bash -c "$(cat "$job_dir/join.txt")" 2>>"$work/straight.log"
  t6=$(now)
  directs+=("$(seconds_between "$t5" "$t6")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
single=$(median "${singles[@]}")
farm=$(median "${farms[@]}")
submit=$(median "${submits[@]}")
direct=$(median "${directs[@]}")

# Slurm's record of the last run's jobs: array tasks are ID_N, the join a plain ID. Times to the
# second, from submission to start (queued) and from start to end (ran).
epoch() { date -d "$1" +%s; }
tasks=0 queued_sum=0 queued_max=0 ran_sum=0 join_ran=none
while read -r id submitted started ended; do
  [ "${id%%_*}" -ge "$first_job" ] || continue
  queued=$(($(epoch "$started") - $(epoch "$submitted")))
  ran=$(($(epoch "$ended") - $(epoch "$started")))
  if [[ "$id" == *_* ]]; then
    tasks=$((tasks + 1))
    queued_sum=$((queued_sum + queued))
    ran_sum=$((ran_sum + ran))
    [ "$queued" -le "$queued_max" ] || queued_max=$queued
  else
    join_ran=$ran
  fi
done < <(squeue --noheader --states=all --array --format='%i %V %S %e')
[ "$tasks" -gt 0 ] || die "squeue lists no task of the farm job."

overhead=$(seconds_between "$direct" "$farm")
awk -v single="$single" -v farm="$farm" -v direct="$direct" -v submit="$submit" \
  -v overhead="$overhead" -v tasks="$tasks" -v frames="$frames" -v chunk="$chunk" \
  -v size="$size" -v output="$output" -v node="$node" -v qsum="$queued_sum" -v qmax="$queued_max" \
  -v rsum="$ran_sum" -v join="$join_ran" -v runs="$runs" -v at_once="$at_once" \
  'BEGIN {
  printf "Farm overhead: %d frames of %s to %s, chunks of %d (%d tasks)\n",
         frames, size, output, chunk, tasks
  printf "on one node (%s); medians of %d runs\n", node, runs
  printf "  single render (tilvane render)           %8.2f s\n", single
  printf "  farm job, from submit until wait ends    %8.2f s (%+.1f%% on the single render)\n",
         farm, 100 * (farm - single) / single
  printf "  the same tasks run straight, %d at once   %8.2f s\n", at_once, direct
  printf "  farm overhead (farm job less straight)   %8.2f s = %.1f%% of the single render\n",
         overhead, 100 * overhead / single
  printf "    per task                               %8.2f s\n", overhead / tasks
  printf "    of which submission                    %8.2f s\n", submit
  printf "  last run, by Slurm (to the second): tasks waited %.1f s to start on average,\n",
         qsum / tasks
  printf "  %d s at most, and ran %d s in all", qmax, rsum
  if (join != "none") printf "; the join ran %d s", join
  printf "\n  the farm job has the single render\x27s frames (framemd5)\n"
}'
