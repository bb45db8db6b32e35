# Sourced by the latency scripts: a private work folder and home (no settings
# of the user's are read or written), an Xvfb on a free display, and cleanup
# of every process listed in `pids` on exit (KEEP=1 keeps the work folder).
work="$(mktemp -d)"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ -n "${KEEP:-}" ]; then echo "kept $work"; else rm -rf -- "$work"; fi
}
trap cleanup EXIT

export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p "$XDG_CONFIG_HOME/Orvix" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[General]\nCheckForUpdates=false\n' >"$XDG_CONFIG_HOME/Orvix/Orvix.conf"
export QT_QPA_PLATFORM=xcb ALSOFT_DRIVERS=null
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x800x24 -nolisten tcp -noreset 2>"$work/xvfb.log" &
xvfb_pid=$!
pids+=($xvfb_pid)
read -r -t 10 number <&"$displayfd"
exec {displayfd}>&-
export DISPLAY=":$number"

# openbox on that display, once it has named itself.
start_openbox() {
    openbox --sm-disable 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
        sleep 0.1
    done
}
