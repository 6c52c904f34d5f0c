# Shared by the Windows scripts (sourced, not run): the packages of the cross
# build, a private Xvfb display and a Wine prefix prepared for headless use.

WIN_DESKTOP=1280x640
WIN_PKGS=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
          wine wine64 fonts-wine fonts-liberation xvfb xauth x11-utils x11-apps imagemagick
          cmake ninja-build dpkg-dev autoconf automake libtool googletest python3)

win_install_packages() {
    local missing=() p
    for p in "${WIN_PKGS[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "windows: installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Starts Xvfb on a free display (sets DISPLAY and XVFB_PID).
win_start_xvfb() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    # Xvfb writes its display number once it accepts clients; on a loaded
    # machine that can take seconds, and an empty number would leave every
    # window test without a display.
    for i in $(seq 1 600); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    DISPLAY=:$(head -n1 "$fdfile")
    rm -f "$fdfile"
    if [ "$DISPLAY" = ":" ]; then
        echo "windows: Xvfb did not start within 30 s" >&2
        return 1
    fi
    export DISPLAY XVFB_PID
}

win_stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

# Creates the Wine prefix (under the running Xvfb) once: the virtual desktop
# makes Wine draw the caption itself and return real exit codes, and Debian's
# wine does not register its Marlett font, which the caption buttons need.
win_prepare_prefix() {
    export WINEPREFIX WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/.vntx-ready" ]; then
        rm -rf "$WINEPREFIX"
        mkdir -p "$(dirname "$WINEPREFIX")"
        wine wineboot -i </dev/null >/dev/null 2>&1
        wineserver -w
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wineserver -w
        touch "$WINEPREFIX/.vntx-ready"
    fi
    # Wide enough for the main window at its default place (400, 20).
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$WIN_DESKTOP" /f </dev/null >/dev/null 2>&1
    # Stop the short-lived server these started; win_warm_up starts the persistent one.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# A persistent wineserver and Wine's services, started with their output
# detached: otherwise they inherit the pipe of whoever captures a test's output
# (ctest, gtest_discover_tests) and every test waits for them to exit.
win_warm_up() {
    (wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1
}

# Everything a Windows script needs when it runs on its own: the packages, a
# private display, the prefix and a warm wineserver, all ended on exit. With
# WIN_ENV_READY=1 the calling script has done this already.
win_setup_unless_ready() {
    [ "${WIN_ENV_READY:-0}" = 1 ] && return 0
    win_install_packages
    trap win_shutdown EXIT
    win_start_xvfb
    win_prepare_prefix
    win_warm_up
}

win_shutdown() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    win_stop_xvfb
}

# An install folder for Ventrix_P3D.exe ($1) with the reference data of the
# build ($2), and Prepar3D v5 known to the registry of the Wine prefix.
win_prepare_install() {
    local install=$1 build=$2
    rm -rf "$install"
    mkdir -p "$install"/{docs,input,output,airports} "$install/../P3Dv5"
    [ -d "$build/input" ] && cp -r "$build/input/." "$install/input/"
    wine reg add 'HKLM\SOFTWARE\Lockheed Martin\Prepar3D v5' /v SetupPath \
        /d "$(winepath -w "$install/../P3Dv5" 2>/dev/null)" /f /reg:64 </dev/null >/dev/null 2>&1
    # The Wine user's roaming application-data folder (parameters.xml lives below it).
    WIN_APPDATA="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
    rm -rf "$WIN_APPDATA/Ventrix_P3D"
    export WIN_APPDATA
    # Every start scans or reads the liveries: one installed livery, and settings naming its folder.
    win_write_livery "$install/../liveries"
    win_write_parameters "$WIN_APPDATA/Ventrix_P3D" "$(winepath -w "$install/../liveries" 2>/dev/null)"
}

# One aircraft.cfg with one livery and the files its section names.
win_write_livery() {
    local folder=$1/B738
    rm -rf "$1"
    mkdir -p "$folder/model" "$folder/texture.KLM"
    printf 'air' >"$folder/S.air"
    printf '[General]\natc_model=B738\n[fltsim.0]\ntitle=KLM B738 start-up check\nsim=S\nmodel=\ntexture=KLM\natc_parking_types=GATE\natc_parking_codes=KLM\n' \
        >"$folder/aircraft.cfg"
}

# parameters.xml in a data folder: the livery folder to scan, no airport scan.
win_write_parameters() {
    mkdir -p "$1"
    cat >"$1/parameters.xml" <<XML
<?xml version="1.0"?>
<parameters>
  <parameter name="PROGRAM_VERSION" value="11.9.2" />
  <parameter name="SCAN_LIVERIES" value="true" />
  <parameter name="SCAN_AIRPORTS" value="false" />
  <parameter name="lfolder0" value="$2" />
</parameters>
XML
}

# Runs a program of the build under Wine in the current folder; returns its exit code.
win_run() {
    local rc=0
    timeout "${WIN_RUN_TIMEOUT:-120}" wine "$@" </dev/null || rc=$?
    return "$rc"
}
