# Sourced by the benchmark scripts: where things are, and how the benchmark's own programs are
# compiled. The Windows ones are built with the cross compiler directly, against the UCRT
# specs file of the Windows build, the way the launcher itself is built; every output is
# deterministic (no time stamp in the image, no debug information).

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_sources="$bench_root/bench"
bench_work="$bench_root/build/bench"
bench_programs="$bench_work/programs"
bench_tool="$bench_root/build/host/bin/kelvor-onefile"
bench_launcher_dir="$bench_root/build/windows/lib/kelvor-onefile"
bench_ucrt_specs="$bench_root/build/windows/ucrt.specs"

bench_cross_cc=x86_64-w64-mingw32-gcc-posix
# The static winpthread of this toolchain was built for msvcrt and calls _setjmp, which the
# UCRT spells setjmp.
bench_cross_flags=(-specs="$bench_ucrt_specs" -D__MSVCRT_VERSION__=0x0E00 -O2 -s
                   -Wl,--no-insert-timestamp -Wl,--defsym=_setjmp=setjmp)

note() { echo "bench: $*" >&2; }
fail() { echo "bench: error: $*" >&2; exit 1; }

# The data generator, natively. Rebuilt when its source is newer than the program.
build_data_generator() {
  local out="$bench_programs/data_generator"
  mkdir -p "$bench_programs"
  if [ ! -x "$out" ] || [ "$bench_sources/data_generator.c" -nt "$out" ]; then
    cc -O2 -Wall -Wextra -o "$out" "$bench_sources/data_generator.c" || fail "cannot compile data_generator.c"
  fi
  echo "$out"
}

# build_app_dll OUT.dll [TABLE_FILE]: bench_app.c as a DLL, carrying TABLE_FILE's bytes in its
# read-only data when one is given.
build_app_dll() {
  local out=$1 table=${2:-}
  local defines=()
  [ -n "$table" ] && defines=(-DBENCH_TABLE_PATH="\"$table\"")
  [ -f "$bench_ucrt_specs" ] || fail "$bench_ucrt_specs is missing: run scripts/build"
  "$bench_cross_cc" "${bench_cross_flags[@]}" "${defines[@]}" -shared -static \
      -o "$out" "$bench_sources/bench_app.c" || fail "cannot compile bench_app.c"
}

# build_plain_hello OUT.exe: the plain program of the start-up comparison, a GUI-subsystem
# program like the launcher.
build_plain_hello() {
  local out=$1
  [ -f "$bench_ucrt_specs" ] || fail "$bench_ucrt_specs is missing: run scripts/build"
  "$bench_cross_cc" "${bench_cross_flags[@]}" -static -mwindows \
      -o "$out" "$bench_sources/plain_hello.c" || fail "cannot compile plain_hello.c"
}
