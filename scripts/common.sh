# Loads what the README's commands share, one job a file in scripts/lib/. Sourced, not run.
OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for ombrin_job in packages debian-archive cache arm64-runtime arm64-root wine build checks workflows; do
    source "$OMBRIN_ROOT/scripts/lib/$ombrin_job.sh"
done
