# shellcheck shell=bash disable=SC2034,SC2154
# Pieces for the on-screen checks, sourced by tests/desktops/run and run-heavy.
# They expect W, H (the screen), DISPLAY and probe to be set. Every wait has a deadline.

# A private session bus for the calling (sub)shell; end it with `stop $bus`. A command
# before it (setpriv ...) starts it as another user.
session_bus() {  # [command...]
  local out
  out=$("$@" dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
  export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
  bus=${out##*$'\n'}
}

# Ends what the session's programs left behind (helpers the bus started, workers that
# went into a session of their own): every other process whose environment names this
# session bus.
end_leftovers() {
  local p left=()
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" != "$BASHPID" ] && grep -qzxF "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" "$p/environ" 2>/dev/null &&
      left+=("${p#/proc/}")
  done
  [ ${#left[@]} -eq 0 ] || kill "${left[@]}" 2>/dev/null
  # gvfsd-fuse unmounts its folder as it ends.
  until_true 10 eval '! kill -0 "${left[@]}"' || echo "still running: ${left[*]}"
}

# Runs a command until it succeeds or the seconds pass.
until_true() {  # seconds command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# True once a window of the X class covers the whole screen: the desktop is up.
desktop_window() {  # class
  xwininfo -display "$DISPLAY" -root -tree | grep -q "\"$1\")  ${W}x${H}+0+0"
}

# Captures the screen; a check without an X server defines its own.
capture() { import -display "$DISPLAY" -window root "$1"; }

# Waits until the screen shows the picture stretched to it. A picture twice the
# screen's size differs only where stretching blends its quadrants: at most one row
# and one column may differ. AREA (WxH+X+Y) leaves out a panel.
shows() {  # picture capture [seconds]
  local deadline=$((SECONDS + ${3:-20})) d='' area=${AREA:-${W}x${H}+0+0}
  convert "$1" -resize "${W}x${H}!" -crop "$area" +repage "$2.ref.png" || return 1
  while :; do
    if capture "$2" 2>/dev/null && convert "$2" -crop "$area" +repage "$2"; then
      d=$(compare -metric AE -fuzz 5% "$2" "$2.ref.png" null: 2>&1)  # exits 1 when they differ at all
      [ "$d" -le $((W + H)) ] 2>/dev/null && return 0
    fi
    [ $SECONDS -lt $deadline ] || break
    sleep 0.3
  done
  echo "$2 differs from $1 in ${d:-all} pixels"
  return 1
}

# Hands two pictures in turn to the desktop through the probe (run by the user in
# the array as_user, when set) and waits for each on screen. The pictures are twice the
# screen's size, so the desktop scales them and any cache of the scaled picture is in play.
twice_scaled() {  # folder [probe environment...]
  local dir=$1 seed
  shift
  mkdir -p "$dir"
  for seed in 1 2; do
    env "$@" ${as_user[@]+"${as_user[@]}"} "$probe" "$dir/wp.bmp" $((2 * W)) $((2 * H)) "$seed" ||
      { echo "the desktop refused picture $seed"; return 1; }
    shows "$dir/wp.bmp" "$dir/shot-$seed.png" || return 1
  done
}

# Xorg's dummy driver on DISPLAY, as root (a private configuration file): outputs
# DUMMY0 to DUMMY15 whose modes dummy_mode adds. Sets xserver.
xorg_dummy() {  # folder virtual-WxH
  printf '%s\n' 'Section "ServerFlags"' ' Option "AutoAddDevices" "false"' EndSection \
    'Section "Device"' ' Identifier "d"' ' Driver "dummy"' ' VideoRam 64000' EndSection \
    'Section "Monitor"' ' Identifier "m"' ' HorizSync 1.0-1000.0' ' VertRefresh 1.0-200.0' EndSection \
    'Section "Screen"' ' Identifier "s"' ' Device "d"' ' Monitor "m"' ' DefaultDepth 24' \
    ' SubSection "Display"' '  Depth 24' "  Virtual ${2/x/ }" ' EndSubSection' EndSection >"$1/xorg.conf"
  Xorg -config "$1/xorg.conf" -noreset -nolisten tcp -logfile "$1/xorg.log" "$DISPLAY" >/dev/null 2>&1 &
  xserver=$!
  until_true 10 xdpyinfo -display "$DISPLAY" || { stop $xserver; return 1; }
}
# A mode of that size (about 60 Hz) added to the output.
dummy_mode() {  # output WxH
  local w=${2%x*} h=${2#*x}
  xrandr --newmode "$2" "$(awk -v t=$(((w + 3) * (h + 3))) 'BEGIN { printf "%.3f", t * 60 / 1e6 }')" \
    "$w" $((w + 1)) $((w + 2)) $((w + 3)) "$h" $((h + 1)) $((h + 2)) $((h + 3)) 2>/dev/null  # once per server
  xrandr --addmode "$1" "$2"
}
