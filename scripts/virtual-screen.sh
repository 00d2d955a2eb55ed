# Sourced by scripts that show the Windows program: start_virtual_screen WxHxD starts Xvfb on a
# free display number, exports DISPLAY and sets xvfb_pid for the caller to stop.
start_virtual_screen() {
    local display=""
    for n in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
    done
    [ -n "$display" ] || { echo "no free display number" >&2; return 1; }
    Xvfb "$display" -screen 0 "$1" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    sleep 1
}
