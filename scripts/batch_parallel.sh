#!/usr/bin/env bash
# Levels a batch in parts with GNU parallel, on this machine or on others over SSH, then merges the parts'
# summaries into the one summary of the batch. Every part runs the same vandrel2-render command with
# --shard K/N, so each file is rendered by exactly one part and written where the whole batch would write it.
# Paths must mean the same on every machine (a shared filesystem).
#
#   scripts/batch_parallel.sh [-n PARTS] [-S LOGINS] [-r RENDERER] [-o SUMMARY.json] -- RENDERER_ARGUMENTS...
#
#   -n PARTS     parts to cut the batch into (default 4)
#   -S LOGINS    GNU parallel's --sshlogin, e.g. "host1,host2" or ":" for this machine through the same
#                path (default: local jobs)
#   -r RENDERER  the renderer's path on every machine (default: vandrel2-render)
#   -o FILE      the merged summary as JSON (default: summary.json in the records folder)
#   -d DIR       where the parts' records go (default: a folder beside the summary)
#
# e.g. scripts/batch_parallel.sh -n 16 -S 8/host1,8/host2 -- --out-dir /shared/levelled --format flac /shared/archive
# The exit status is the merged batch's: 0 when every file was done or skipped, 4 when one was not.
set -euo pipefail

parts=4
logins=""
render=vandrel2-render
summary=""
records=""
while getopts "n:S:r:o:d:" option; do
    case $option in
    n) parts=$OPTARG ;;
    S) logins=$OPTARG ;;
    r) render=$OPTARG ;;
    o) summary=$OPTARG ;;
    d) records=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ]; then
    echo "batch_parallel.sh: give the renderer's batch arguments after --" >&2
    exit 2
fi
summary=${summary:-summary.json}
records=${records:-${summary%.json}.parts}
mkdir -p "$records"
records=$(cd "$records" && pwd)

# One part at a time on each login: a part already keeps every core of its machine busy (-j).
where=(--jobs 1)
[ -n "$logins" ] && where+=(--sshlogin "$logins")
# --quote passes arguments with spaces as they are. A part in which a file failed exits 4; the merged summary says which, so go on with the others.
parallel --will-cite --quote "${where[@]}" --halt never \
    "$render" "$@" --shard {}/"$parts" --json "$records"/part-{}.json --quiet ::: $(seq 1 "$parts") || true

parts_written=()
for k in $(seq 1 "$parts"); do
    if [ ! -f "$records/part-$k.json" ]; then
        echo "batch_parallel.sh: part $k of $parts wrote no summary; see its messages above" >&2
        exit 1
    fi
    parts_written+=("$records/part-$k.json")
done
exec "$render" --merge-reports "${parts_written[@]}" --json "$summary"
