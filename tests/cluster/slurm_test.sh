#!/bin/bash
# The gallery derived in parts by the engines vistrel ships for, then paged
# by one full run, is byte for byte what one run on one machine makes (but
# the footer's date): first with GNU parallel running the parts here, then,
# as root, on a real Slurm started on this machine for the test (munged,
# slurmctld and slurmd with a throwaway configuration), through the shipped
# share/vistrel/vistrel-slurm: in one array, throttled to one part at a
# time, split into arrays past MaxArraySize, and with --keep-going past a
# broken photograph.
#
#   tests/cluster/slurm_test.sh [BUILD_DIR]    # BUILD_DIR: build/ by default
#
# The daemons it starts are stopped by their pid files however it ends.
set -u
cd "$(dirname "$0")/../.." || exit 1
build=${1:-build}
vistrel_dir=$(cd "$build/src" && pwd) || exit 1
make_photo=$build/tests/make_photo
slurm_script=$PWD/share/vistrel/vistrel-slurm
options=(-2 -C -n -H 360)
parts=4

work=$(mktemp -d /tmp/vistrel-cluster.XXXXXX) || exit 1
chmod 755 "$work"
daemons=()  # pid files of what was started

stop_daemons() {
    for pid_file in "${daemons[@]}"; do
        [ -s "$pid_file" ] || continue
        pid=$(cat "$pid_file")
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
}
cleanup() {
    stop_daemons
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Three albums of camera-sized photographs (a few megapixels each), and an
# empty one.
make_gallery() {
    gallery=$1
    mkdir -p "$gallery/empty" || return 1
    seed=0
    for album in harbour hills town; do
        mkdir -p "$gallery/$album" || return 1
        for size in 3000x2000 2000x3000 2400x1800 1600x1200; do
            seed=$((seed + 1))
            "$make_photo" "${size%x*}" "${size#*x}" "$seed" "$gallery/$album/photo$seed.jpg" ||
                return 1
        done
    done
    printf '. The harbour\nphoto2.jpg Boats at dawn\n' >"$gallery/harbour/.description"
}

# Every file under a gallery and its bytes, the footer's date blanked.
digest() {
    (cd "$1" && find . -type f | LC_ALL=C sort | while read -r file; do
        printf '%s ' "$file"
        case $file in
        *.html) sed 's/generated .*/generated WHEN/' "$file" | md5sum ;;
        *) md5sum <"$file" ;;
        esac
    done)
}

# The same as one plain run of the same options (in $work/one, or the
# gallery given third).
same_as_one_run() {
    diff <(digest "${3:-$work/one}") <(digest "$1") >"$work/diff" ||
        fail "$2: the gallery differs from one run's:$(echo; head -20 "$work/diff")"
    echo "$2: the gallery is the same as one run's ($(find "$1" -type f | wc -l) files)"
}

PATH=$vistrel_dir:$PATH
make_gallery "$work/photos" || fail "cannot make the photographs"
for copy in one parallel slurm bad bad-kept bad-one throttled split; do
    cp -a "$work/photos" "$work/$copy"
done
for copy in bad bad-kept bad-one; do
    echo "not a JPEG file" >"$work/$copy/hills/photo6.jpg"  # in part 2 of 4
done
vistrel "${options[@]}" "$work/one" >/dev/null || fail "the plain run failed"
vistrel -k "${options[@]}" "$work/bad-one" >/dev/null 2>&1
[ $? = 1 ] || fail "the plain run with -k did not end with status 1 past the broken photograph"

# The script's own options, and what it refuses before it submits anything.
for refused in --array=1-4%1 -a1-4 --dependency=afterok:1 "-d afterok:1"; do
    # shellcheck disable=SC2086 # "-d afterok:1" is two words
    if out=$("$slurm_script" $refused -- $parts "$work/slurm" 2>&1); then
        fail "$refused was passed to sbatch"
    fi
    case $out in
    *"is set by this script"*) ;;
    *) fail "$refused was refused without the reason: $out" ;;
    esac
done
echo "vistrel-slurm: --array and --dependency refused, with the reason"

# GNU parallel, the parts on this machine, then the pages.
if command -v parallel >/dev/null; then
    parallel --will-cite --halt now,fail=1 vistrel -j 1 -p {}/$parts "${options[@]}" \
        "$work/parallel" ::: $(seq $parts) >/dev/null || fail "a part run failed under parallel"
    grep -rq --include='*.html' . "$work/parallel" && fail "the parts wrote pages"
    vistrel "${options[@]}" "$work/parallel" >/dev/null || fail "the pages run failed"
    same_as_one_run "$work/parallel" "GNU parallel"
    # A part that fails keeps the pages run from starting.
    parallel --will-cite --halt now,fail=1 vistrel -p {}/$parts "${options[@]}" "$work/bad" \
        ::: $(seq $parts) >/dev/null 2>&1 && vistrel "${options[@]}" "$work/bad" >/dev/null &&
        fail "a bad photograph failed no part under parallel"
    [ -e "$work/bad/index.html" ] && fail "the pages were written after a part failed"
    echo "GNU parallel: a bad photograph fails its part, and no pages are written"
else
    fail "GNU parallel is not installed (scripts/install-deps installs it)"
fi

if [ "$(id -u)" != 0 ]; then
    echo "Slurm: skipped, needs root to start munged, slurmctld and slurmd"
    exit 0
fi
for program in munged mungekey slurmctld slurmd sbatch scontrol; do
    command -v "$program" >/dev/null || fail "$program is not installed (scripts/install-deps)"
done

# munged with its own key, socket, pid and log files.
munge=$work/munge
mkdir -m 700 "$munge"
mungekey --create --keyfile="$munge/munge.key" 2>/dev/null ||
    dd if=/dev/urandom of="$munge/munge.key" bs=1024 count=1 status=none
chmod 600 "$munge/munge.key"
daemons+=("$munge/munged.pid")
munged --force --key-file="$munge/munge.key" --socket="$munge/munge.socket" \
    --pid-file="$munge/munged.pid" --log-file="$munge/munged.log" \
    --seed-file="$munge/munged.seed" || fail "munged did not start: $(cat "$munge/munged.log")"

# One node, this machine, under its short name, reached on the loopback
# address whatever the name resolves to; everything in $work.
slurm=$work/slurm-daemons
mkdir -p "$slurm/state" "$slurm/spool"
node=$(hostname -s)
cpus=$(nproc)
export SLURM_CONF=$slurm/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=vistreltest
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$munge/munge.socket
StateSaveLocation=$slurm/state
SlurmdSpoolDir=$slurm/spool
SlurmctldPidFile=$slurm/slurmctld.pid
SlurmdPidFile=$slurm/slurmd.pid
SlurmctldLogFile=$slurm/slurmctld.log
SlurmdLogFile=$slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
MaxArraySize=5
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
daemons+=("$slurm/slurmd.pid" "$slurm/slurmctld.pid")
slurmctld -i || fail "slurmctld did not start: $(tail "$slurm/slurmctld.log")"
slurmd || fail "slurmd did not start: $(tail "$slurm/slurmd.log")"

# Bounded waits: until the node is idle, then until both jobs are done.
wait_for() {
    what=$1
    seconds=$2
    shift 2
    for _ in $(seq $((seconds * 2))); do
        "$@" && return 0
        sleep 0.5
    done
    fail "$what did not happen within $seconds s"
}
node_idle() { scontrol show node "$node" 2>/dev/null | grep -q 'State=IDLE'; }
wait_for "the node to be idle" 60 node_idle ||
    fail "$(tail "$slurm/slurmctld.log" "$slurm/slurmd.log")"

# Submits: the script's words; sets $arrays (the parts' job ids, one a
# line), $array (the first) and $pages.
submit() {
    submitted=$("$slurm_script" "$@") || fail "the submission failed: $submitted"
    echo "$submitted"
    arrays=$(echo "$submitted" | sed -n 's/^parts: job \([0-9]*\) .*/\1/p')
    array=$(echo "$arrays" | head -1)
    pages=$(echo "$submitted" | sed -n 's/^pages: job \([0-9]*\)$/\1/p')
    { [ -n "$array" ] && [ -n "$pages" ]; } || fail "no job ids in: $submitted"
}
submit --output="$work/job-%A-%a.out" -- $parts "${options[@]}" "$work/slurm"

# The job records' states, one a line.
states() { scontrol show job "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | cut -d= -f2; }
finished() {
    for job in $arrays "$pages"; do
        [ -n "$(states "$job")" ] || return 1
        states "$job" | grep -qvE '^(COMPLETED|FAILED|CANCELLED|TIMEOUT|NODE_FAIL|OUT_OF_MEMORY)$' &&
            return 1
    done
    return 0
}
wait_for "both jobs to end" 120 finished

task_states=$(states "$array" | sort | uniq -c | sed 's/^ *//')
pages_state=$(states "$pages")
echo "array tasks: $task_states; pages job: $pages_state"
[ "$task_states" = "$parts COMPLETED" ] || fail "not every array task completed: $task_states$(
    echo; cat "$work"/job-*.out)"
[ "$pages_state" = COMPLETED ] || fail "the pages job did not complete: $pages_state"
scontrol show job "$array" | grep -o 'ExitCode=[0-9:]*' | grep -qv 'ExitCode=0:0' &&
    fail "an array task exited non-zero"
same_as_one_run "$work/slurm" "Slurm"

# A part that fails: the pages job never runs, and is cancelled.
submit --output="$work/bad-%A-%a.out" -- $parts "${options[@]}" "$work/bad"
wait_for "both jobs of the bad gallery to end" 120 finished
task_states=$(states "$array" | sort | uniq -c | sed 's/^ *//' | tr '\n' ' ')
pages_state=$(states "$pages")
echo "bad gallery: array tasks: $task_states; pages job: $pages_state"
[ "$task_states" = "$((parts - 1)) COMPLETED 1 FAILED " ] ||
    fail "not one failed task and the others completed: $task_states"
[ "$pages_state" = CANCELLED ] || fail "the pages job was not cancelled: $pages_state"
grep -q "vistrel: $work/bad/hills/photo6.jpg: Not a JPEG file" "$work"/bad-*-2.out ||
    fail "the failed task did not say why: $(cat "$work"/bad-*-2.out)"
[ -e "$work/bad/index.html" ] && fail "the pages were written after a part failed"
echo "Slurm: a bad photograph fails its task, and the pages job is cancelled"

# --keep-going: the part with the broken photograph leaves it out and fails;
# the pages job runs all the same, with -k, makes the gallery of the rest,
# and fails too, saying what it left out.
submit --output="$work/kept-%A-%a.out" -- --keep-going $parts "${options[@]}" "$work/bad-kept"
wait_for "both jobs of the kept-going gallery to end" 120 finished
task_states=$(states "$array" | sort | uniq -c | sed 's/^ *//' | tr '\n' ' ')
pages_state=$(states "$pages")
echo "--keep-going: array tasks: $task_states; pages job: $pages_state"
[ "$task_states" = "$((parts - 1)) COMPLETED 1 FAILED " ] ||
    fail "not one failed task and the others completed: $task_states"
[ "$pages_state" = FAILED ] || fail "the pages job did not run and end with status 1: $pages_state"
scontrol show job "$pages" | grep -q 'ExitCode=1:0' ||
    fail "the pages job did not exit with status 1: $(scontrol show job "$pages" | grep -o 'ExitCode=[0-9:]*')"
grep -q "vistrel: left out $work/bad-kept/hills/photo6.jpg: Not a JPEG file" "$work"/kept-*-2.out ||
    fail "the failed task did not name the photograph: $(cat "$work"/kept-*-2.out)"
grep -q "could not be read and was left out: hills/photo6.jpg" "$work"/kept-"$pages"-*.out ||
    fail "the pages job did not name the photograph: $(cat "$work"/kept-"$pages"-*.out)"
same_as_one_run "$work/bad-kept" "--keep-going" "$work/bad-one"

# --throttle 1: one part at a time, each task starting once the one before
# has ended, and the pages job once.
submit --output="$work/throttled-%A-%a.out" -- --throttle 1 $parts "${options[@]}" "$work/throttled"
scontrol show job "$array" | grep -q 'ArrayTaskThrottle=1' ||
    fail "the array is not throttled: $(scontrol show job "$array" | head -3)"
wait_for "both jobs of the throttled gallery to end" 300 finished
task_states=$(states "$array" | sort | uniq -c | sed 's/^ *//')
[ "$task_states" = "$parts COMPLETED" ] || fail "not every throttled task completed: $task_states"
[ "$(states "$pages")" = COMPLETED ] || fail "the throttled pages job did not complete"
# Each task's start and end, by task index; no start before the end of the
# task that ran before it.
scontrol show job "$array" -o | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*StartTime=\([^ ]*\) EndTime=\([^ ]*\) .*/\2 \3/p' |
    sort >"$work/throttled-times"
[ "$(wc -l <"$work/throttled-times")" = "$parts" ] ||
    fail "not $parts task records: $(cat "$work/throttled-times")"
previous_end=""
while read -r start end; do
    [ -z "$previous_end" ] || [[ ! "$start" < "$previous_end" ]] ||
        fail "a throttled task started before the one before it ended: $(cat "$work/throttled-times")"
    previous_end=$end
done <"$work/throttled-times"
[ "$(grep -c '^Directory ' "$work"/throttled-"$pages"-*.out)" = 4 ] ||
    fail "the pages ran other than once: $(cat "$work"/throttled-"$pages"-*.out)"
same_as_one_run "$work/throttled" "--throttle 1"

# More parts than an array may hold (MaxArraySize=5: indices up to 4): two
# arrays, parts 1 to 4 and 5 to 6, the pages job after both.
submit --output="$work/split-%A-%a.out" -- 6 "${options[@]}" "$work/split"
[ "$(echo "$arrays" | wc -l)" = 2 ] || fail "6 parts were not split into two arrays: $submitted"
echo "$submitted" | grep -q "(4 tasks: parts 1 to 4)" || fail "not parts 1 to 4 first: $submitted"
echo "$submitted" | grep -q "(2 tasks: parts 5 to 6)" || fail "not parts 5 to 6 then: $submitted"
wait_for "the jobs of the split gallery to end" 120 finished
for job in $arrays; do
    states "$job" | grep -qv '^COMPLETED$' && fail "a task of array $job did not complete"
done
[ "$(states "$pages")" = COMPLETED ] || fail "the split gallery's pages job did not complete"
# The pages job started once every task of both arrays had ended.
pages_start=$(scontrol show job "$pages" | grep -o 'StartTime=[^ ]*' | cut -d= -f2)
for job in $arrays; do
    for end in $(scontrol show job "$job" | grep -o 'EndTime=[^ ]*' | cut -d= -f2); do
        [[ ! "$pages_start" < "$end" ]] ||
            fail "the pages job started at $pages_start, before a task of array $job ended at $end"
    done
done
same_as_one_run "$work/split" "Slurm, 6 parts in two arrays"
