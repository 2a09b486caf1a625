# Sourced by bench/run: the benchmark's own Wine prefix, in build/bench/wine.
#
# Wine builds a program's TEMP and TMP from the prefix's registry (HKCU\Environment), not from
# the Unix environment, so the only way to send the launcher's directories into the
# benchmark's own scratch directory is a prefix whose registry says so. A prefix of its own
# also keeps the benchmark's wineserver apart from the test prefix's, which a test run may
# stop at any moment. Made once (a few seconds) and kept for the next run.
#
# Programs are started with bench_wine64 directly, the same way for the launcher and for the
# plain program, so no wrapper script's start-up is timed.

bench_wine_dir="$bench_work/wine"

# bench_windows_path /unix/path: the same path through Wine's drive Z:, which is the Unix root.
bench_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Takes the Wine programs and settings of the Windows build and points them at this prefix.
bench_wine_environment() {
  local env_file="$bench_root/build/windows/wine/wine-env.sh"
  [ -f "$env_file" ] || fail "$env_file is missing: run scripts/build"
  local settings=()
  # In a subshell: the file also sets WINEPREFIX and HOME, which are the test prefix's.
  mapfile -t settings < <(. "$env_file" >/dev/null &&
      printf '%s\n' "$KELVOR_WINE64" "$KELVOR_WINESERVER" "$WINEDLLOVERRIDES" "$WINEDEBUG")
  bench_wine64=${settings[0]:-}
  bench_wineserver=${settings[1]:-}
  export WINEDLLOVERRIDES=${settings[2]:-} WINEDEBUG=${settings[3]:--all}
  [ -x "$bench_wine64" ] && [ -x "$bench_wineserver" ] || fail "Wine is not installed: run scripts/setup"
  export WINEPREFIX="$bench_wine_dir/prefix"
  # Wine writes below HOME too; the user's own stays untouched (and is kept for git).
  bench_user_home=$HOME
  export HOME="$bench_wine_dir/home"
  # Wine's server socket directory goes below TMPDIR and stays there.
  export TMPDIR="$bench_wine_dir/tmp"
  mkdir -p "$WINEPREFIX" "$HOME" "$TMPDIR"
}

# bench_wine_start SCRATCH_DIR: a persistent wineserver for the prefix, the prefix made or
# brought up to date, TEMP and TMP set to SCRATCH_DIR.
bench_wine_start() {
  local scratch
  scratch=$(bench_windows_path "$1")
  [ -f "$WINEPREFIX/system.reg" ] || note "making the benchmark's Wine prefix in $WINEPREFIX (once)"
  "$bench_wineserver" -k 2>/dev/null || true
  "$bench_wineserver" -p </dev/null >/dev/null 2>&1
  "$bench_wine64" wineboot </dev/null >/dev/null 2>&1 || fail "wineboot failed in $WINEPREFIX"
  local key
  for key in TEMP TMP; do
    "$bench_wine64" reg add 'HKCU\Environment' /v "$key" /t REG_SZ /d "$scratch" /f </dev/null >/dev/null 2>&1 \
      || fail "cannot set $key in $WINEPREFIX"
  done
  # A crash ends the program with its status instead of waiting for a debugger or a dialogue.
  "$bench_wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >/dev/null 2>&1 || true
  "$bench_wine64" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
      </dev/null >/dev/null 2>&1 || true
}

# Ends this prefix's wineserver and every Wine process of this prefix, and nothing else.
bench_wine_stop() {
  [ -n "${bench_wineserver:-}" ] && "$bench_wineserver" -k 2>/dev/null || true
}
