# Helpers for driving a program on a virtual X display with keystrokes, as a person would.
# Sourced by the end-to-end tests; they call start_display first and finish last.

e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Starts Xvfb on a free display and makes it this shell's; skips the test (77) without the
# tools. Leaves a scratch folder in $work.
start_display() {
  local tool
  for tool in Xvfb xdotool python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/lotrix-XXXXXX")
  exec 3>"$work/display"
  # -noreset: by default the server starts afresh when its last client leaves, and a program
  # started in that moment cannot connect (a test that closes one window and opens the next).
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  # In this shell only: a child killed between its fork and its exec would run it too.
  trap '[ "$BASHPID" = "$$" ] && { kill ${program:-} $xvfb 2>/dev/null; rm -rf "$work"; }' EXIT
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
  failures=0
  passes=0
}

check() {  # description, condition (a shell command)
  if eval "$2"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $1${step_name:+ (step: $step_name)}" >&2
  fi
}

# A test may go in named steps, each with its own time limit (step NAME SECONDS): the waits
# below then give up once the step's time is out, so that a window that never comes costs that
# step's time, not the whole test's, and a line names the step. Without steps, each wait keeps
# to its own limit.
step() {
  step_name=$1
  step_ends=$((SECONDS + $2))
}

# How many tenths of a second a wait of at most $1 seconds may take in the current step: one
# look at least, however late.
tenths() {
  local limit=$1
  [ -n "${step_ends:-}" ] && [ $((step_ends - SECONDS)) -lt "$limit" ] &&
    limit=$((step_ends - SECONDS))
  echo $((limit > 0 ? limit * 10 : 1))
}

# Says so when a wait for $1 gave up because its step's time was out.
out_of_time() {
  if [ -n "${step_ends:-}" ] && [ "$SECONDS" -ge "$step_ends" ]; then
    echo "TIMEOUT: the step \"$step_name\" ran out of time waiting for $1" >&2
  fi
}

# Every visible window titled exactly $1.
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; }

# Waits for a visible window titled exactly $1 other than $2, and prints its id. It returns as
# soon as the window shows, and gives up early if the program ($program, where set) has ended;
# the limit of $wait_seconds (90 unless set), or the step's end, is only for a program that hangs.
window_named() {
  local id
  for _ in $(seq "$(tenths "${wait_seconds:-90}")"); do
    for id in $(windows_named "$1"); do
      [ "$id" != "${2:-}" ] && echo "$id" && return 0
    done
    [ -n "${program:-}" ] && ! kill -0 "$program" 2>/dev/null && return 1
    sleep 0.1
  done
  out_of_time "a window titled \"$1\""
  return 1
}

# Waits until window $1 is no longer shown.
gone() {
  for _ in $(seq "$(tenths 30)"); do
    windows_named '.*' | grep -qx "$1" || return 0
    sleep 0.1
  done
  out_of_time "window $1 to go"
  return 1
}

# With no window manager, keystrokes go to the window that was last given the focus.
focus() { timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null; }
keys() { xdotool key --delay 40 "$@" 2>/dev/null; }
type_text() { xdotool type --delay 10 -- "$1" 2>/dev/null; }

# In a window just opened, the focus in its path field: types the path $1, walks past Browse to
# the sample size (its text selected), types $2, and presses Run.
run_with() {
  type_text "$1"
  keys Tab Tab
  type_text "$2"
  keys Tab space
}

# Presses OK in the box titled $1 (other than window $2) once it comes; true if it came and went.
dismiss() {
  local box
  box=$(window_named "$1" "${2:-}") || return 1
  focus "$box"
  keys Return
  for _ in $(seq "$(tenths 10)"); do
    windows_named "$1" | grep -qx "$box" || return 0
    sleep 0.1
  done
  out_of_time "the box \"$1\" to go"
  return 1
}

# A Linux path as Wine's Windows programs see it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

lines_in() { if [ -f "$1" ]; then wc -l <"$1"; else echo none; fi; }

# Checks that the program ends, by itself now, with status 0.
expect_end() {
  for _ in $(seq "$(tenths 10)"); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$program" 2>/dev/null; then
    out_of_time "the program to end"
    check "${1:-the program ends}" false
    return
  fi
  wait "$program"
  local status=$?
  check "${1:-the program ends}, with status 0" "[ $status -eq 0 ]"
  program=
}

# Closes window $1 as a window manager's close button would, and checks that the program ends
# with status 0.
close_and_expect_end() {
  python3 "$e2e_dir/close_window.py" "$1"
  check "closing the window takes it off the screen" "gone $1"
  expect_end "closing the window ends the program"
}

finish() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
