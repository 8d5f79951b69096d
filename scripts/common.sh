# Loads what the README's commands share, one job a file in scripts/lib/. Sourced, not run.
OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for job in packages debian-archive arm64-runtime arm64-root wine build checks; do
    source "$OMBRIN_ROOT/scripts/lib/$job.sh"
done
unset job
