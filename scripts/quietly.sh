# Sourced by the scripts: quietly <log> <command>... runs the command with
# its output appended to the log and prints nothing, unless it fails: then
# it names the command, shows the whole log and ends the script.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >> "$log" 2>&1; then
    echo "failed: $*" >&2
    echo "---- $log" >&2
    cat "$log" >&2
    exit 1
  fi
}
