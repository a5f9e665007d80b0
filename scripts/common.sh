# Shared by the scripts: where the repository is and where ccache keeps its
# cache. Sourced, not run.
HOLVAR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export HOLVAR_ROOT

# A cache that outlives the clone, so a CI run on the same machine reuses the
# objects of the last one; a user who cannot write there keeps it at home.
if [[ -z "${CCACHE_DIR:-}" ]]; then
    if mkdir -p /var/cache/holvar-ccache 2>/dev/null && [[ -w /var/cache/holvar-ccache ]]; then
        export CCACHE_DIR=/var/cache/holvar-ccache
    else
        export CCACHE_DIR="${HOME}/.cache/holvar-ccache"
    fi
fi
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
# The clone lives in a new folder on every CI run: hash paths relative to it.
export CCACHE_BASEDIR="${HOLVAR_ROOT}"
export CCACHE_NOHASHDIR=1
