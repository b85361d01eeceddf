#!/bin/sh
# Times the workload programs on the zephro shell and on the clips shell, and
# prints a Markdown table (for docs/PERFORMANCE.md).
#
#   bench/compare.sh [OPTIONS] [FILTER...]
#
# Without a filter every program runs. A FILTER that names a program
# (churn-10000) selects it, any other selects the programs whose name contains
# it (joins, manners).
# Every program NAME.clp of the programs directory runs COMPARE_REPEAT times
# on each engine, the two engines taking turns run by run (and taking turns
# going first: zephro clips, clips zephro, ...), each run with standard
# input from /dev/null under /usr/bin/time and timeout.  A row shows the
# median user+system CPU seconds of each engine, their ratio (none when a
# median is 0.00), the peak resident memory of each (the largest over the
# runs) and a status: ok when the last SUMMARY line of every run (carriage
# returns removed) equals NAME.expected, else MISMATCH, TIMEOUT or rc=N (the
# exit status).
#
# Options:
#   -z, --zephro CMD    zephro command, split on blanks, the program appended
#                       (env COMPARE_ZEPHRO; default build-release/zephro if
#                       present, else build/zephro, in the repository)
#   -p, --programs DIR  the programs (env COMPARE_PROGRAMS; default
#                       ../shared/bench/programs next to the repository)
#   -n, --no-clips      time zephro alone (env COMPARE_NO_CLIPS=1)
#   -h, --help          this text
# Environment:
#   COMPARE_REPEAT   runs per engine and program (default 5)
#   COMPARE_TIMEOUT  seconds before a run is stopped (default 600)
#   COMPARE_CLIPS    the clips command (default "clips -f2": silent batch mode)
#
# The output of failing runs is kept in a temporary directory, named at the
# end.  The exit status is 0 only when every run of every engine was ok.

usage() {
    sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
}

root=$(cd "$(dirname "$0")/.." && pwd) || exit 2
zephro=${COMPARE_ZEPHRO:-}
programs=${COMPARE_PROGRAMS:-}
clips=${COMPARE_CLIPS:-clips -f2}
no_clips=${COMPARE_NO_CLIPS:-0}
repeat=${COMPARE_REPEAT:-5}
limit=${COMPARE_TIMEOUT:-600}

die() {
    echo "compare.sh: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case $1 in
        -z|--zephro) [ $# -ge 2 ] || die "$1 needs a command"; zephro=$2; shift ;;
        --zephro=*) zephro=${1#*=} ;;
        -p|--programs) [ $# -ge 2 ] || die "$1 needs a directory"; programs=$2; shift ;;
        --programs=*) programs=${1#*=} ;;
        -n|--no-clips) no_clips=1 ;;
        -h|--help) usage; exit 0 ;;
        --) shift; break ;;
        -*) die "unknown option $1 (see --help)" ;;
        *) break ;;
    esac
    shift
done

case $repeat in '' | *[!0-9]* | 0) die "COMPARE_REPEAT must be a positive integer" ;; esac
case $limit in '' | *[!0-9]* | 0) die "COMPARE_TIMEOUT must be a positive integer" ;; esac
[ "$no_clips" = 1 ] || no_clips=0

if [ -z "$zephro" ]; then
    if [ -x "$root/build-release/zephro" ]; then
        zephro=$root/build-release/zephro
    else
        zephro=$root/build/zephro
    fi
fi
# program CMD: the program an engine command runs, its first word (commands
# are split on blanks on purpose; set -f keeps globbing out of it)
program() {
    set -f
    # shellcheck disable=SC2086
    set -- $1
    set +f
    echo "${1:-}"
}
z=$(program "$zephro")
command -v "$z" > /dev/null 2>&1 ||
    die "no zephro shell at '$z': build it (make build, or make bench for build-release/)"
c=$(program "$clips")
if [ "$no_clips" = 0 ] && ! command -v "$c" > /dev/null 2>&1; then
    echo "compare.sh: the clips shell ($c) is not installed." >&2
    echo "  Install it with: apt-get install clips   (or run with --no-clips)" >&2
    exit 2
fi

[ -n "$programs" ] || programs=$root/../shared/bench/programs
[ -d "$programs" ] || die "no programs directory $programs (set COMPARE_PROGRAMS or -p)"
programs=$(cd "$programs" && pwd)
[ -x /usr/bin/time ] || die "/usr/bin/time is needed (Debian package time)"
command -v timeout > /dev/null 2>&1 || die "timeout is needed (Debian package coreutils)"

names=$(for f in "$programs"/*.clp; do
            [ -e "$f" ] && basename "$f" .clp
        done | sort -t- -k1,1 -k2,2n)
# wanted NAME: whether a filter selects program NAME
wanted() {
    [ $# -eq 1 ] && return 0
    name=$1
    shift
    for f in "$@"; do
        if [ -f "$programs/$f.clp" ]; then
            [ "$name" = "$f" ] && return 0
        else
            case $name in *"$f"*) return 0 ;; esac
        fi
    done
    return 1
}
selected=
for name in $names; do
    wanted "$name" "$@" && selected="$selected $name"
done
[ -n "$selected" ] || die "no program in $programs matches '$*'"

work=$(mktemp -d "${TMPDIR:-/tmp}/zephro-compare.XXXXXX") || exit 2
kept=0
trap 'if [ "$kept" = 0 ]; then rm -rf "$work"; fi' EXIT
trap 'exit 130' INT TERM

# run ENGINE_LABEL ENGINE_CMD PROG RUN: one timed run. Appends "user sys KiB"
# to $work/PROG.LABEL.times and prints the run's status.
run() {
    label=$1 cmd=$2 prog=$3 n=$4
    set -f
    # shellcheck disable=SC2086  # the engine command is split on purpose
    /usr/bin/time -f '%U %S %M' -o "$work/time" \
        timeout -k 10 "$limit" $cmd "$programs/$prog.clp" \
        < /dev/null > "$work/out" 2> "$work/err"
    rc=$?
    set +f
    # the last line holds the figures; an earlier one may report the exit status
    tail -n 1 "$work/time" >> "$work/$prog.$label.times"
    if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
        status=TIMEOUT
    elif [ "$rc" -ne 0 ]; then
        status="rc=$rc"
    else
        summary=$(tr -d '\r' < "$work/out" | grep '^SUMMARY' | tail -n 1)
        expected=$(tr -d '\r' < "$programs/$prog.expected" 2> /dev/null | head -n 1)
        if [ -n "$summary" ] && [ "$summary" = "$expected" ]; then
            status=ok
        else
            status=MISMATCH
        fi
    fi
    if [ "$status" != ok ]; then
        mv "$work/out" "$work/$prog.$label.$n.out"
        mv "$work/err" "$work/$prog.$label.$n.err"
        kept=1
    fi
    echo "$status"
}

# median FILE: the median of user+system seconds, "-" without figures.
median() {
    awk '{ print $1 + $2 }' "$1" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR) printf "%.2f", v[int((NR + 1) / 2)]; else printf "-" }'
}

# peak FILE: the largest resident set in MiB.
peak() {
    awk '$3 > m { m = $3 } END { printf "%.1f", m / 1024 }' "$1"
}

cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo 2> /dev/null | head -n 1)
cores=$(getconf _NPROCESSORS_ONLN 2> /dev/null || nproc)
echo "$(date '+%Y-%m-%d %H:%M'), $(uname -m), ${cpu:-unknown CPU}, $cores cores;" \
    "median of $repeat run(s) per engine, user+system CPU seconds"
echo
if [ "$no_clips" = 1 ]; then
    echo '| program | zephro s | zephro MiB | zephro |'
    echo '|---|---:|---:|---|'
else
    echo '| program | zephro s | clips s | zephro/clips | zephro MiB | clips MiB | zephro | clips |'
    echo '|---|---:|---:|---:|---:|---:|---|---|'
fi

failed=0
for prog in $selected; do
    : > "$work/$prog.zephro.times"
    : > "$work/$prog.clips.times"
    zstatus=ok
    cstatus=ok
    i=0
    while [ "$i" -lt "$repeat" ]; do
        i=$((i + 1))
        # An engine that failed once is not run again on this program. The
        # engines take turns going first (zephro, clips, clips, zephro...),
        # so that neither always runs right after the other.
        for engine in $(if [ $((i % 2)) = 1 ]; then echo zephro clips; else echo clips zephro; fi); do
            if [ "$engine" = zephro ] && [ "$zstatus" = ok ]; then
                zstatus=$(run zephro "$zephro" "$prog" "$i")
            elif [ "$engine" = clips ] && [ "$no_clips" = 0 ] && [ "$cstatus" = ok ]; then
                cstatus=$(run clips "$clips" "$prog" "$i")
            fi
        done
    done
    # run executes in a subshell: note the kept files here
    ls "$work/$prog".*.out > /dev/null 2>&1 && kept=1
    zsecs=$(median "$work/$prog.zephro.times")
    zmib=$(peak "$work/$prog.zephro.times")
    [ "$zstatus" = ok ] || failed=1
    if [ "$no_clips" = 1 ]; then
        echo "| $prog | $zsecs | $zmib | $zstatus |"
        continue
    fi
    csecs=$(median "$work/$prog.clips.times")
    cmib=$(peak "$work/$prog.clips.times")
    [ "$cstatus" = ok ] || failed=1
    # a ratio only for runs that ended, and none when either median is below
    # what the timer resolves (0.00)
    ratio=-
    case "$zstatus $cstatus" in
        *TIMEOUT* | *rc=*) ;;
        *) ratio=$(awk -v z="$zsecs" -v c="$csecs" \
               'BEGIN { if (c + 0 < 0.005 || z + 0 < 0.005) print "-"; else printf "%.2f", z / c }') ;;
    esac
    echo "| $prog | $zsecs | $csecs | $ratio | $zmib | $cmib | $zstatus | $cstatus |"
done

rm -f "$work/out" "$work/err" "$work/time" "$work"/*.times
if [ "$kept" = 1 ]; then
    echo "compare.sh: output of the failing runs kept in $work" >&2
fi
[ "$failed" = 0 ]
