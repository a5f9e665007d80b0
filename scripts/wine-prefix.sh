# shellcheck shell=bash
# Shared by the scripts that run Windows executables under Wine: the loader, a
# fresh prefix of their own and its start. Sourced, not run.
#   wine_loader NAME     sets `loader`, the 64-bit loader (Debian keeps it out of
#                        PATH unless wine64 is the default); NAME goes in errors
#   wine_prefix NAME     sets `prefix`, a new prefix in a temporary folder, and
#                        the environment that runs in it; the caller traps
#                        wine_prefix_remove before it boots
#   wine_boot            starts the prefix and waits until it has settled
#   wine_hold_mutex HELPER NAME READY READY-WIN
#                        starts conformance-helper.exe holding the named mutex
#                        for two minutes in the background (`holder_pid`), and
#                        waits until it says so by the file READY (READY-WIN as
#                        Windows sees it); fails when it never does
#   wine_release_mutex   ends that process
#   wine_prefix_remove   ends the script's background process `holder_pid` when
#                        one runs, this prefix's own server only, then removes
#                        the prefix and the script's `scratch` folder if any
wine_loader() {
    loader=$(command -v wine64 || true)
    if [[ -z "${loader}" && -x /usr/lib/wine/wine64 ]]; then
        loader=/usr/lib/wine/wine64
    fi
    if [[ -z "${loader}" ]]; then
        echo "$1: no wine64 loader (Debian's wine and wine64 packages)" >&2
        exit 1
    fi
}

wine_prefix() {
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/holvar-$1.XXXXXX")
    export WINEPREFIX="${prefix}"
    export WINEARCH=win64
    export WINEDEBUG=-all
    # Arguments go to Windows as UTF-16 through the Unix locale: a UTF-8 one
    # keeps non-ASCII text intact.
    export LC_ALL=C.UTF-8
    # No Mono or Gecko installer on first start, and no window anywhere.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}

wine_boot() {
    timeout 180 wineboot -i >/dev/null 2>&1
    # A new prefix goes on starting its own services for a few seconds after
    # wineboot returns, holding the service manager's start lock (1055) or its
    # pipe (1053): wait until that has settled and the server has gone.
    timeout 60 wineserver -w || true
}

wine_prefix_remove() {
    if [[ -n "${holder_pid:-}" ]]; then
        kill "${holder_pid}" 2>/dev/null || true
        wait "${holder_pid}" 2>/dev/null || true
    fi
    WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true
    rm -rf "${prefix}" "${scratch:-}"
}

wine_hold_mutex() {
    rm -f "$3"
    "${loader}" "$1" mutex-hold "$2" 120000 "$4" >/dev/null 2>&1 &
    holder_pid=$!
    for _ in $(seq 1 300); do
        [[ -e "$3" ]] && return 0
        sleep 0.1
    done
    return 1
}

wine_release_mutex() {
    kill "${holder_pid}" 2>/dev/null || true
    wait "${holder_pid}" 2>/dev/null || true
    holder_pid=
}
