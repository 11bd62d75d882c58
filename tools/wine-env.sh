#!/usr/bin/env bash
# Sourced by the scripts that run the Windows program: a throwaway 64-bit Wine prefix (a 32-bit
# program in it sees the world as on 64-bit Windows), one Wine server kept alive meanwhile, and
# an X server (Xvfb) when none is given. What is started here is stopped when the script ends.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Whether this machine runs 32-bit code at all (some sandboxed kernels execute only 64-bit
# programs). Without it Wine's 32-bit loader cannot start, so 32-bit Windows programs cannot run
# here and Wine is driven through its 64-bit loader.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export TOLVESSA_WINE32=1
    tolvessa_wine=wine
    tolvessa_wineserver=wineserver
else
    export TOLVESSA_WINE32=0
    export WINELOADER=/usr/lib/wine/wine64
    tolvessa_wine=/usr/lib/wine/wine64
    tolvessa_wineserver=/usr/lib/wine/wineserver64
    echo "this machine cannot run 32-bit programs: Wine runs 64-bit programs only" >&2
fi
# The Wine command for the end-to-end tests.
export TOLVESSA_WINE="$tolvessa_wine"

tolvessa_started_xvfb=""
if [[ -z "${DISPLAY:-}" ]]; then
    for n in 99 98 97 96 95; do
        if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
            Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
            tolvessa_started_xvfb=$!
            export DISPLAY=":$n"
            for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
            break
        fi
    done
fi

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "creating the Wine prefix $WINEPREFIX" >&2
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$tolvessa_wine" wineboot -i >/dev/null 2>&1
    "$tolvessa_wineserver" -w
fi
"$tolvessa_wineserver" -p
"$tolvessa_wine" cmd /c ver </dev/null >/dev/null 2>&1 || true
# No window manager runs on the X server: Wine draws the window frames itself, as Windows does,
# and needs the Marlett font for the caption buttons.
"$tolvessa_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
"$tolvessa_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
if [[ -f /usr/share/wine/fonts/marlett.ttf && ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi

tolvessa_wine_cleanup() {
    "$tolvessa_wineserver" -k >/dev/null 2>&1 || true
    if [[ -n "$tolvessa_started_xvfb" ]]; then
        kill "$tolvessa_started_xvfb" 2>/dev/null || true
        wait "$tolvessa_started_xvfb" 2>/dev/null || true
    fi
}
trap tolvessa_wine_cleanup EXIT
