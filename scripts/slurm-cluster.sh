#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for the farm tests, the farm benchmark and for trying
# `tilvane farm` by hand. munged, slurmctld and slurmd run on localhost as root; the generated
# slurm.conf, the munge key and socket, the state, spool, logs and pid files all live in one folder,
# so the cluster clashes with no system Slurm or munge and leaves nothing behind.
#
#   export SLURM_CONF=$(sudo scripts/slurm-cluster.sh start /tmp/tilvane-slurm)
#   sbatch --wrap 'hostname'; squeue; sinfo
#   sudo scripts/slurm-cluster.sh stop /tmp/tilvane-slurm
#
# start DIR [OWNER_PID]
#   DIR must not exist yet (or be empty). Returns once sinfo shows the node idle, printing the path
#   of the cluster's slurm.conf (for SLURM_CONF) as its only standard output; fails within 90
#   seconds with the daemons' log tails otherwise. With OWNER_PID, the cluster stops itself when that
#   process ends, so a test binary that crashes leaves no daemon behind.
# stop DIR
#   Cancels the cluster's jobs, ends its daemons and its jobs' step daemons by their process ids,
#   and removes DIR. Safe to run on a half-started cluster.
set -euo pipefail
self=$(realpath "$0")

die() {
  echo "slurm-cluster.sh: $*" >&2
  exit 2
}

usage() {
  die "usage: slurm-cluster.sh start DIR [OWNER_PID] | stop DIR"
}

# Process ids of slurmstepd processes that write to this cluster's slurmd log: the ones left by
# jobs of this cluster, and no other cluster's.
step_daemons() {
  local dir=$1 proc pid
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    [ "$(cat "$proc/comm" 2>/dev/null)" = slurmstepd ] || continue
    if ls -l "$proc/fd" 2>/dev/null | grep -qF -- "-> $dir/"; then echo "$pid"; fi
  done
}

alive() {
  kill -0 "$1" 2>/dev/null && [ "$(cat "/proc/$1/stat" 2>/dev/null | awk '{print $3}')" != Z ]
}

# Sends TERM to each process id, then KILL to those still there after a few seconds.
end_processes() {
  local pid
  [ "$#" -gt 0 ] || return 0
  kill -TERM "$@" 2>/dev/null || true
  for _ in $(seq 50); do
    for pid in "$@"; do
      if alive "$pid"; then break; fi
      pid=
    done
    [ -n "$pid" ] || return 0
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null || true
}

stop_cluster() {
  local dir=$1 name pid pids=() steps jobs
  [ -d "$dir" ] || return 0
  [ -f "$dir/pids/slurmctld" ] || [ -f "$dir/pids/munged" ] || [ -f "$dir/slurm.conf" ] ||
    die "$dir holds no cluster this script started; nothing stopped."
  # The watchdog first, unless it is this very process, so it cannot stop the cluster twice.
  if [ -f "$dir/pids/watchdog" ]; then
    pid=$(cat "$dir/pids/watchdog")
    [ "$pid" = "$$" ] || end_processes "$pid"
  fi
  # Running steps outlive slurmd by design: cancel the jobs while the controller still answers.
  if [ -f "$dir/pids/slurmctld" ] && alive "$(cat "$dir/pids/slurmctld")"; then
    mapfile -t jobs < <(SLURM_CONF=$dir/slurm.conf timeout 10 squeue --noheader --format=%i)
    if [ "${#jobs[@]}" -gt 0 ]; then
      SLURM_CONF=$dir/slurm.conf timeout 10 scancel --full --quiet "${jobs[@]}" 2>/dev/null || true
    fi
    for _ in $(seq 50); do
      [ -n "$(step_daemons "$dir")" ] || break
      sleep 0.1
    done
  fi
  for name in slurmd slurmctld munged; do
    if [ -f "$dir/pids/$name" ]; then
      pid=$(cat "$dir/pids/$name")
      # Only the process this script started, should its id have been reused since.
      [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$name" ] && pids+=("$pid")
    fi
  done
  # slurmd and slurmctld first, so they do not lose munge while they shut down.
  end_processes "${pids[@]:0:${#pids[@]}-1}"
  end_processes "${pids[@]: -1}"
  mapfile -t steps < <(step_daemons "$dir")
  end_processes "${steps[@]}"
  rm -rf "$dir"
}

# A TCP port no socket is bound to, other than those given.
free_port() {
  local used port
  used=$(for table in /proc/net/tcp /proc/net/tcp6; do
    [ -r "$table" ] && tail -n +2 "$table"
  done | while read -r _ address _; do echo $((16#${address##*:})); done)
  for _ in $(seq 500); do
    port=$((20000 + RANDOM % 30000))
    grep -qx "$port" <<<"$used" && continue
    case " $* " in *" $port "*) continue ;; esac
    echo "$port"
    return
  done
  die "found no free TCP port for the cluster."
}

log_tails() {
  local dir=$1 log
  for log in "$dir"/log/*; do
    [ -s "$log" ] || continue
    echo "--- last lines of $log:"
    tail -n 15 "$log"
  done
}

# Starts a daemon in the foreground of its own session, its output in DIR/log, its process id in
# DIR/pids (the id of the daemon itself: setsid runs it in place, this shell having no job control).
spawn() {
  local dir=$1 name=$2
  shift 2
  setsid "$@" </dev/null >>"$dir/log/$name.out" 2>&1 &
  echo $! >"$dir/pids/$name"
}

# Runs the command until it succeeds, for at most the given seconds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

start_cluster() {
  local dir=$1 owner=${2:-} node ctld_port slurmd_port memory cpus
  [ "$(id -u)" -eq 0 ] || die "start runs as root: slurmd must, to run jobs as their users."
  for tool in munged mungekey munge slurmctld slurmd sinfo squeue scancel setsid; do
    command -v "$tool" >/dev/null || die "$tool is not installed; run scripts/deps.sh as root."
  done
  case "$dir" in /*) ;; *) dir=$PWD/$dir ;; esac
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    die "$dir is not empty; give a new folder (a cluster there? stop it with: $0 stop $dir)."
  fi
  mkdir -p "$dir"/{munge,state,spool,log,pids}
  # munged refuses a key or socket folder that others can write to; users other than root reach
  # munge's socket and slurm.conf through them to submit jobs.
  chmod 755 "$dir" "$dir/munge"

  mungekey --create --keyfile="$dir/munge/munge.key" 2>"$dir/log/mungekey.out" ||
    die "mungekey could not write $dir/munge/munge.key: $(cat "$dir/log/mungekey.out")"
  chmod 400 "$dir/munge/munge.key"
  spawn "$dir" munged munged --foreground --force --socket="$dir/munge/socket" \
    --key-file="$dir/munge/munge.key" --pid-file="$dir/munge/munged.pid" \
    --seed-file="$dir/munge/seed" --log-file="$dir/log/munged.log"
  if ! wait_for 30 bash -c "munge -n -S '$dir/munge/socket' | unmunge -S '$dir/munge/socket'"
  then
    fail "$dir" "munged did not answer on $dir/munge/socket within 30 seconds."
  fi

  # The node as slurmd itself sees it: its name, cores and memory.
  node=$(slurmd -C 2>/dev/null | head -n 1)
  [[ "$node" == NodeName=* ]] || fail "$dir" "slurmd -C did not describe this machine."
  cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<<"$node")
  memory=$(sed -n 's/.* RealMemory=\([0-9]*\).*/\1/p' <<<"$node")
  ctld_port=$(free_port)
  slurmd_port=$(free_port "$ctld_port")
  touch "$dir/plugstack.conf"
  cat >"$dir/slurm.conf" <<EOF
# A one-node cluster written by scripts/slurm-cluster.sh; everything it keeps is in $dir.
ClusterName=tilvane
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
# A requeued job waits out cred_expire before it runs again: 10 seconds, not 120.
AuthInfo=socket=$dir/munge/socket,cred_expire=10
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/state/slurmctld.pid
SlurmdPidFile=$dir/spool/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
# No cgroups: the tasks are plain processes, tracked by their parent ids.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
# Cores and memory are both handed out, so one-core tasks run side by side; a job that asks for no
# memory gets a core's share, not the whole node.
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
DefMemPerCPU=$((memory / cpus))
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1,bf_interval=1
# A node that went down comes back as soon as its slurmd registers.
ReturnToService=2
# Finished jobs stay known to squeue and scontrol for ten minutes: there is no accounting.
MinJobAge=600
KillWait=2
MailProg=/bin/true
InactiveLimit=0
SlurmctldDebug=info
SlurmdDebug=info
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF

  export SLURM_CONF=$dir/slurm.conf
  spawn "$dir" slurmctld slurmctld -D -i -f "$SLURM_CONF"
  spawn "$dir" slurmd slurmd -D -f "$SLURM_CONF"
  if [ -n "$owner" ]; then
    setsid bash -c "while kill -0 $owner 2>/dev/null; do sleep 1; done; exec '$self' stop '$dir'" \
      </dev/null >>"$dir/log/watchdog.out" 2>&1 &
    echo $! >"$dir/pids/watchdog"
  fi
  if ! wait_for 60 bash -c '[ "$(sinfo -h -N -o %T 2>/dev/null)" = idle ]'; then
    fail "$dir" "the node did not come up idle within 60 seconds (sinfo: $(sinfo -h -N -o '%T %E' 2>&1))."
  fi
  echo "$SLURM_CONF"
}

# Reports why a start failed, with the daemons' last words, and takes the half-started cluster down.
fail() {
  local dir=$1
  shift
  {
    echo "slurm-cluster.sh: the cluster in $dir did not start: $*"
    log_tails "$dir"
  } >&2
  stop_cluster "$dir"
  exit 1
}

case "${1:-}" in
  start)
    [ "$#" -ge 2 ] && [ "$#" -le 3 ] || usage
    start_cluster "$2" "${3:-}"
    ;;
  stop)
    [ "$#" -eq 2 ] || usage
    stop_cluster "$2"
    ;;
  *) usage ;;
esac
