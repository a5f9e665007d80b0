# shellcheck shell=bash
# Shared by the scripts that run Windows executables under Wine: the loader, a
# fresh prefix of their own and its start. Sourced, not run.
#   wine_loader NAME     sets `loader`, the 64-bit loader (Debian keeps it out of
#                        PATH unless wine64 is the default); NAME goes in errors
#   wine_prefix NAME     sets `prefix`, a new prefix in a temporary folder, and
#                        the environment that runs in it; the caller traps
#                        wine_prefix_remove before it boots
#   wine_boot            starts the prefix and waits until it has settled
#   wine_prefix_remove   ends this prefix's own server only, then removes it
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
    WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true
    rm -rf "${prefix}"
}
