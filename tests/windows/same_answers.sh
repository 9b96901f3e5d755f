#!/usr/bin/env bash
# The Windows programs, run under Wine, give the same answers as the ones built here:
# - the decompressor, for every input given: the same exit status and, when it accepts the
#   state, the same image, byte for byte;
# - cindral-party, on a demo state: the same `show --json` (the file's path aside) and the same
#   state after the same `set`.
# Usage: same_answers.sh LINUX_BIN WINDOWS_BINS MAKE_STATE STATE...
# WINDOWS_BINS: folders separated by ':', the first that holds Unvell.exe is taken.
# Prints "SKIPPED: ..." where the Windows build or Wine is not at hand.
set -u
linux=$1 make_state=$3
windows=
IFS=: read -r -a candidates <<<"$2"
for folder in "${candidates[@]}"; do
  if [ -f "$folder/Unvell.exe" ]; then
    windows=$folder
    break
  fi
done
shift 3
if [ -z "$windows" ] || ! command -v wine >/dev/null; then
  echo "SKIPPED: no Windows build (build-windows or build-windows-unvell) or no Wine"
  exit 0
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/here" "$work/windows"
cp "$linux/Unvell" "$work/here/Unvell"
cp "$windows/Unvell.exe" "$work/windows/Unvell.exe"
passed=0 failed=0
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
for state in "$@"; do
  rm -f "$work"/here/newstate.dec "$work"/windows/newstate.dec "$work"/*/flag.unv
  # The same state for both, at a path with spaces and letters beyond ASCII.
  copy="$work/état de $(basename "$state").000"
  cp "$state" "$copy"
  "$work/here/Unvell" -dec "$copy" >/dev/null 2>"$work/said-here"
  here=$?
  # The decompressor's answer is its status with its own line, or 0 with its flag. Anything else
  # (no line, a status it never gives) is Wine failing to run it to its end, which a loaded
  # machine shows now and then: said, and tried again.
  for try in 1 2 3; do
    rm -f "$work"/windows/newstate.dec "$work"/windows/flag.unv
    wine "$work/windows/Unvell.exe" -dec "$(windows_path "$copy")" >/dev/null 2>"$work/said-there"
    there=$?
    case $there in
    0) [ -f "$work/windows/flag.unv" ] && break ;;
    1 | 3) grep -q '^Unvell: ' "$work/said-there" && break ;;
    esac
    echo "Wine did not run Unvell.exe to its end on $(basename "$state") (try $try: exit $there, $(wc -c <"$work/said-there") bytes on its error output)"
  done
  if [ "$here" -eq "$there" ] && { [ "$here" -ne 0 ] || cmp -s "$work/here/newstate.dec" "$work/windows/newstate.dec"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "differs: $(basename "$state") (exit $here here, $there on Windows)"
    # Each decompressor's own words, so a failure says its cause.
    echo "  here: $(tr -d '\r' <"$work/said-here")"
    echo "  on Windows: $(tr -d '\r' <"$work/said-there")"
  fi
done

if [ -f "$windows/cindral-party.exe" ]; then
  mkdir -p "$work/party here" "$work/party windows"
  "$make_state" "$work/party here/パーティー.000" >/dev/null
  cp "$work/party here/パーティー.000" "$work/party windows/パーティー.000"
  here_state="$work/party here/パーティー.000" there_state="$work/party windows/パーティー.000"
  # The data folders of both kept apart from the user's.
  export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
  compare() {
    if cmp -s "$1" "$2"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "differs: $3"
      diff "$1" "$2" | head -n 10
    fi
  }
  "$linux/cindral-party" show --json "$here_state" | grep -v '"file":' >"$work/show-here.json"
  wine "$windows/cindral-party.exe" show --json "$(windows_path "$there_state")" | tr -d '\r' |
    grep -v '"file":' >"$work/show-windows.json"
  compare "$work/show-here.json" "$work/show-windows.json" "show --json"
  edit=(--slot 2 level=61 name=Sif hpl=999 noailments=no --max-gold)
  "$linux/cindral-party" set "$here_state" "${edit[@]}" >/dev/null
  wine "$windows/cindral-party.exe" set "$(windows_path "$there_state")" "${edit[@]}" >/dev/null
  compare "$here_state" "$there_state" "the state after set"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
