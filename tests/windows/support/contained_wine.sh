# Sourced by the tests of anything that deletes. Such a test must not be able to delete
# anything real when it fails: it runs in a private mount namespace in which everything but its
# scratch folder is read-only, with a Wine prefix of its own whose drives point only into that
# folder (its Windows folder is the build prefix's, bound read-only). That takes root and
# unshare; without them the test is skipped (exit 77).
#
#   contain SCRATCH "$0" "$@"   at the top of the test: runs the test again inside the
#                               namespace (KELVOR_CONTAINED set), removes SCRATCH afterwards and
#                               exits with the test's status; inside, it returns at once.
#   enter_contained_prefix WINE_ENV SCRATCH
#                               inside: only SCRATCH stays writable; WINEPREFIX, HOME and TMPDIR
#                               point into it; drive C: is the prefix's own, D: and S: are
#                               SCRATCH/decoys and SCRATCH/decoys/drive-s. Sets user_temp (the
#                               prefix's TEMP, as Wine takes it from its registry) and decoys.
#   check_drives                fails unless the prefix has drives c:, d: and s: alone.
#   fail MESSAGE                ends the test as failed.
#   install_launcher LAUNCHER   copies it to C:\app\probe.exe, beside a file of the folder's own.
#   run_case NAME EXE EXPECTED_EXIT HOOK ARGUMENTS...
#                               runs C:\app\EXE started ARGUMENTS... from the decoy folder cwd.
#                               HOOK (or -) runs with the target directory once the application
#                               has started, for arguments that await "$awaiting", which is
#                               signalled after it. Fails unless the run ends with the expected
#                               code and the test's manifest (what must survive) is unchanged.
#                               Leaves in run_seconds the time from the signal (or the start) to
#                               the end of the run.
#   targets, expect_gone NAME   the target directories in TEMP; none must be left.

fail() { echo "FAILED: $*" >&2; exit 1; }

contain() {
  local scratch=$1
  shift
  [ -z "${KELVOR_CONTAINED:-}" ] || return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "needs root and unshare for a private mount namespace"
    exit 77
  fi
  rm -rf "$scratch"
  mkdir -p "$scratch"
  local status=0
  KELVOR_CONTAINED=1 unshare --mount --propagation private "$@" || status=$?
  # The namespace's mounts ended with it; a leftover mount would not be followed into anyway.
  mountpoint -q "$scratch/prefix/drive_c/windows" || rm -rf "$scratch"
  exit $status
}

enter_contained_prefix() {
  local wine_env=$1 scratch=$2 target outside probe_file build_prefix
  mount --bind "$scratch" "$scratch"
  while read -r target; do
    target=$(printf '%b' "$target")
    [ "$target" = "$scratch" ] || mount -o remount,bind,ro "$target" 2>/dev/null || true
  done < <(findmnt -rn -o TARGET)
  for outside in "$(dirname "$scratch")" / /tmp /var/tmp /root /dev/shm; do
    probe_file="$outside/.kelvor-containment-check"
    if (: > "$probe_file") 2>/dev/null; then
      rm -f "$probe_file"
      fail "$outside is still writable: the test would not be contained"
    fi
  done

  . "$wine_env"
  build_prefix=$WINEPREFIX
  export WINEPREFIX="$scratch/prefix" HOME="$scratch/home" TMPDIR="$scratch/tmp"
  mkdir -p "$HOME" "$TMPDIR" "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows"
  cp -a "$build_prefix"/{system.reg,user.reg,userdef.reg,.update-timestamp} "$WINEPREFIX/"
  (cd "$build_prefix/drive_c" && tar --exclude=./windows --exclude='./users/*/Temp/*' -cf - .) |
    (cd "$WINEPREFIX/drive_c" && tar -xf -)
  # The user's shell folders link into the build's Wine home: here they are plain folders.
  find "$WINEPREFIX/drive_c" -type l -delete
  mount --bind "$build_prefix/drive_c/windows" "$WINEPREFIX/drive_c/windows"
  mount -o remount,bind,ro "$WINEPREFIX/drive_c/windows"

  decoys=$scratch/decoys
  mkdir -p "$decoys/drive-s"
  ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
  ln -s ../../decoys "$WINEPREFIX/dosdevices/d:"
  ln -s ../../decoys/drive-s "$WINEPREFIX/dosdevices/s:"
  user_temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
  mkdir -p "$user_temp"
  trap end_runs EXIT
}

check_drives() {
  local drives
  drives=$(ls "$WINEPREFIX/dosdevices" | grep -E '^[a-z]:$' | tr '\n' ' ')
  [ "$drives" = "c: d: s: " ] || fail "the prefix has drives '$drives', not c: d: s: alone"
}

install_launcher() {
  signal="$WINEPREFIX/drive_c/signals/go"
  awaiting="await:C:\\signals\\go"
  mkdir -p "$(dirname "$signal")" "$WINEPREFIX/drive_c/app" "$decoys/cwd"
  cp "$1" "$WINEPREFIX/drive_c/app/probe.exe"
  echo "the launcher's own folder" > "$WINEPREFIX/drive_c/app/keep-me.txt"
}

running=
end_runs() {
  [ -z "$running" ] || kill "$running" 2>/dev/null || true
  "$KELVOR_WINESERVER" -k 2>/dev/null || true
}

targets() { find "$user_temp" -maxdepth 1 -name 'onefile_*' -printf '%f\n'; }

run_case() {
  local name=$1 exe=$2 expected=$3 hook=$4
  shift 4
  rm -rf "$user_temp"/onefile_* "$user_temp/moved-away" "$signal"
  local before out=$scratch/$name.out status=0
  before=$(manifest)
  local from
  from=$(date +%s%N)
  (cd "$decoys/cwd" && exec timeout 300 "$KELVOR_WINE64" "C:\\app\\$exe" started "$@") >"$out" 2>&1 &
  running=$!
  if [ "$hook" != - ]; then
    for _ in $(seq 600); do grep -q '^started' "$out" && break; sleep 0.1; done
    grep -q '^started' "$out" || fail "$name: the application did not start: $(cat "$out")"
    [ "$(targets | wc -l)" -eq 1 ] || fail "$name: no single target directory: $(targets)"
    "$hook" "$user_temp/$(targets)"
    from=$(date +%s%N)
    : > "$signal"
  fi
  wait "$running" || status=$?
  run_seconds=$(( ($(date +%s%N) - from) / 1000000 ))
  run_seconds=$((run_seconds / 1000)).$(printf '%03d' $((run_seconds % 1000)))
  running=
  [ "$status" -eq "$expected" ] || fail "$name: exit code $status, not $expected: $(cat "$out")"
  local after
  after=$(manifest)
  [ "$after" = "$before" ] || fail "$name: a decoy changed: $(diff <(echo "$before") <(echo "$after") || true)"
  check_drives
}

expect_gone() {
  [ -z "$(targets)" ] || fail "$1: the target directory is left: $(cd "$user_temp" && find onefile_* | head)"
}

