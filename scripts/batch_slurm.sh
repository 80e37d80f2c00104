#!/usr/bin/env bash
# Levels a batch on a Slurm cluster: a job array whose task K of N runs the same vandrel2-render command with
# --shard K/N, so each file is rendered by exactly one task and written where the whole batch would write it,
# then a job that waits for the array merges the tasks' summaries into the one summary of the batch. Paths
# must mean the same on every node (a shared filesystem).
#
#   scripts/batch_slurm.sh [-n PARTS] [-c CPUS] [-r RENDERER] [-o SUMMARY.json] [-d DIR] [-s SBATCH_OPTIONS]
#                          [-b] -- RENDERER_ARGUMENTS...
#
#   -n PARTS     array tasks to cut the batch into (default 4)
#   -c CPUS      cores for each task, each a job (-j) of its renderer (default 1)
#   -r RENDERER  the renderer's path on every node (default: vandrel2-render)
#   -o FILE      the merged summary as JSON (default: summary.json)
#   -d DIR       where the tasks' summaries and logs go (default: a folder beside the summary)
#   -s OPTIONS   more sbatch options for both jobs, e.g. "--partition=audio --time=4:00:00"
#   -b           submit and return, printing the job ids; without it, wait for the merge and print its table
#
# e.g. scripts/batch_slurm.sh -n 32 -c 8 -s --partition=audio -- --out-dir /shared/levelled --format flac /shared/archive
# Waiting, the exit status is the merged batch's: 0 when every file was done or skipped, 4 when one was not,
# 1 when a task wrote no summary.
set -euo pipefail

parts=4
cpus=1
render=vandrel2-render
summary=summary.json
records=""
options=""
background=false
while getopts "n:c:r:o:d:s:b" option; do
    case $option in
    n) parts=$OPTARG ;;
    c) cpus=$OPTARG ;;
    r) render=$OPTARG ;;
    o) summary=$OPTARG ;;
    d) records=$OPTARG ;;
    s) options=$OPTARG ;;
    b) background=true ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ]; then
    echo "batch_slurm.sh: give the renderer's batch arguments after --" >&2
    exit 2
fi
records=${records:-${summary%.json}.parts}
mkdir -p "$records"
records=$(cd "$records" && pwd)
summary=$(cd "$(dirname "$summary")" && pwd)/$(basename "$summary")
# A summary left by an earlier run must not stand in for a task of this one that wrote none.
rm -f "$records"/part-*.json "$records"/part-*.log "$records"/merge.out "$records"/merge.err

# Each task's command, its arguments quoted once here: -j before the user's, so that theirs wins.
{
    echo '#!/usr/bin/env bash'
    printf 'exec %q -j "${SLURM_CPUS_PER_TASK:-1}"' "$render"
    printf ' %q' "$@"
    printf ' --shard "$SLURM_ARRAY_TASK_ID"/%q --json %q/part-"$SLURM_ARRAY_TASK_ID".json --quiet\n' "$parts" "$records"
} >"$records/part.sh"
{
    echo '#!/usr/bin/env bash'
    printf 'parts=(); for k in $(seq 1 %q); do\n' "$parts"
    printf '    part=%q/part-$k.json\n' "$records"
    printf '    if [ ! -f "$part" ]; then echo "batch_slurm.sh: task $k of %q wrote no summary; see %q/part-$k.log" >&2; exit 1; fi\n' \
        "$parts" "$records"
    echo '    parts+=("$part")'
    echo 'done'
    printf 'exec %q --merge-reports "${parts[@]}" --json %q\n' "$render" "$summary"
} >"$records/merge.sh"

# shellcheck disable=SC2086 # the extra sbatch options are words
array=$(sbatch --parsable $options --job-name=vandrel2-levelling --array=1-"$parts" --cpus-per-task="$cpus" \
    --output="$records/part-%a.log" "$records/part.sh")
array=${array%%;*}
merge_job=(sbatch --parsable $options --job-name=vandrel2-summary --dependency=afterany:"$array"
    --output="$records/merge.out" --error="$records/merge.err")
if $background; then
    merge=$("${merge_job[@]}" "$records/merge.sh")
    echo "array job ${array} (${parts} tasks), then summary job ${merge%%;*}: the table in $records/merge.out," \
        "the summary in $summary"
    exit 0
fi
status=0
"${merge_job[@]}" --wait "$records/merge.sh" >/dev/null || status=$?
cat "$records/merge.out"
cat "$records/merge.err" >&2
exit "$status"
