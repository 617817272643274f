# Shared by the package rounds: named checks, each failure shown with its output.
checks_passed=0
checks_failed=0

# check NAME COMMAND...: runs the command quietly; a failure prints its output.
check() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    checks_passed=$((checks_passed + 1))
    echo "ok: $name"
  else
    checks_failed=$((checks_failed + 1))
    echo "FAILED: $name"
    [ -z "$out" ] || sed 's/^/    /' <<<"$out" | head -20
  fi
}

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

checks_end() {
  echo "$checks_passed passed, $checks_failed failed"
  [ "$checks_failed" -eq 0 ]
}

# The commands the Linux packages ship, each with the source file that reads its options.
declare -A command_source=(
  [zorvani-wallpaper]=app/main.cpp
  [zorvani-wallpaper-setup]=tools/setup/setup_main.cpp
  [zorvani-month-picture]=tools/calendar/month_picture_main.cpp
  [zorvani-calibrate]=tools/calibrate/calibrate_main.cpp
)

# check_commands ROOT: for every command installed under ROOT ("" for this system), its
# man page renders cleanly, has the usual sections and names every option the
# program's source reads; bash-completion finds its completion where it looks and
# offers exactly those options.
check_commands() {
  local root=$1 command
  for command in $(printf "%s\n" "${!command_source[@]}" | sort); do
    check "commands: $command: man page and completion match its options" \
      bash -c "$(declare -f command_options check_command)"'; check_command "$@"' _ \
      "$root" "$command" "$(dirname "${BASH_SOURCE[0]}")/../../${command_source[$command]}"
  done
}

# The long options a source file names (every "--name" that opens a string), with
# --help and --version, which every program takes.
command_options() {
  { grep -oE '"--[a-z][a-z-]*' "$1" | tr -d '"'; printf '%s\n' --help --version; } | sort -u
}

check_command() {
  local root=$1 command=$2 source=$3 page warnings option offered
  page=$root/usr/share/man/man1/$command.1.gz
  [ -x "$root/usr/bin/$command" ] || { echo "no $root/usr/bin/$command"; return 1; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || return 1
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"EXIT STATUS"\|EXIT STATUS' FILES '"SEE ALSO"\|SEE ALSO'; do
    zcat "$page" | grep -q "^\.SH \($section\)\$" || { echo "$page has no section $section"; return 1; }
  done
  for option in $(command_options "$source"); do
    zcat "$page" | grep -qF -- "${option//-/\\-}" || { echo "$page does not name $option"; return 1; }
  done
  # bash-completion looks in each $XDG_DATA_DIRS folder's bash-completion/completions.
  [ -e "$root/usr/share/bash-completion/completions/$command" ] || { echo "no completion for $command"; return 1; }
  offered=$(XDG_DATA_DIRS=$root/usr/share bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion "$1" || { echo "bash-completion found no completion for $1"; exit 1; }
    function=$(complete -p "$1" | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    COMP_WORDS=("$1" --) COMP_CWORD=1 COMP_LINE="$1 --" COMP_POINT=$((${#1} + 3))
    "$function" "$1" -- "$1"
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$command") || { echo "$offered"; return 1; }
  diff <(command_options "$source") - <<<"$offered" || { echo "(< the source's options, > the completion's)"; return 1; }
}
