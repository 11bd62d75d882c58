#!/usr/bin/env bash
# Sourced by the scripts that run the Windows program: a throwaway 64-bit Wine prefix (a 32-bit
# program in it sees the world as on 64-bit Windows), one Wine server kept alive meanwhile, and
# an X server (Xvfb) when none is given. What is started here is stopped when the script ends.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

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
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
wineserver -p
wine cmd /c ver </dev/null >/dev/null 2>&1 || true
# No window manager runs on the X server: Wine draws the window frames itself, as Windows does,
# and needs the Marlett font for the caption buttons.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
if [[ -f /usr/share/wine/fonts/marlett.ttf && ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi

tolvessa_wine_cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [[ -n "$tolvessa_started_xvfb" ]]; then
        kill "$tolvessa_started_xvfb" 2>/dev/null || true
        wait "$tolvessa_started_xvfb" 2>/dev/null || true
    fi
}
trap tolvessa_wine_cleanup EXIT
