# Sourced by the benchmark scripts: where things are, and how the benchmark's own programs are
# compiled. The Windows ones are built with the cross compiler directly, with the compile and
# link flags of the Windows build (its launcher-linking.sh, generated from
# cmake/KelvorOnefileLinking.cmake), the way the launcher itself is built; every output is
# deterministic (no time stamp in the image, no debug information).

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_sources="$bench_root/bench"
bench_work="$bench_root/build/bench"
bench_programs="$bench_work/programs"
bench_tool="$bench_root/build/host/bin/kelvor-onefile"
bench_windows_build="$bench_root/build/windows"
bench_linking="$bench_windows_build/launcher-linking.sh"

note() { echo "bench: $*" >&2; }
fail() { echo "bench: error: $*" >&2; exit 1; }

# build_native NAME: bench/NAME.c as a native program, rebuilt when its source is newer.
build_native() {
  local out="$bench_programs/$1"
  mkdir -p "$bench_programs"
  if [ ! -x "$out" ] || [ "$bench_sources/$1.c" -nt "$out" ]; then
    cc -O2 -Wall -Wextra -o "$out" "$bench_sources/$1.c" || fail "cannot compile $1.c"
  fi
  echo "$out"
}

build_data_generator() { build_native data_generator; }

# The cross compilers and their flags, and the launcher library's directory, from the Windows
# build.
cross_flags() {
  [ -f "$bench_linking" ] || fail "$bench_linking is missing: run scripts/build"
  # shellcheck source=/dev/null
  source "$bench_linking"
  bench_cross_cc=$kelvor_c_compiler bench_cross_cxx=$kelvor_cxx_compiler
  bench_launcher_dir="$bench_windows_build/$kelvor_launcher_directory"
  bench_cross_flags=("${kelvor_ucrt_compile_flags[@]}" -O2 "${kelvor_program_link_flags[@]}"
                     "${kelvor_reproducible_link_flags[@]}")
}

# build_app_dll OUT.dll [TABLE_FILE]: bench_app.c as a DLL, carrying TABLE_FILE's bytes in its
# read-only data when one is given.
build_app_dll() {
  local out=$1 table=${2:-}
  local defines=()
  [ -n "$table" ] && defines=(-DBENCH_TABLE_PATH="\"$table\"")
  cross_flags
  "$bench_cross_cc" "${bench_cross_flags[@]}" "${defines[@]}" -shared \
      -o "$out" "$bench_sources/bench_app.c" || fail "cannot compile bench_app.c"
}

# build_plain_hello OUT.exe: the plain program of the start-up comparison, a GUI-subsystem
# program like the launcher.
build_plain_hello() {
  local out=$1
  cross_flags
  "$bench_cross_cc" "${bench_cross_flags[@]}" "${kelvor_gui_subsystem_flags[@]}" \
      -o "$out" "$bench_sources/plain_hello.c" || fail "cannot compile plain_hello.c"
}

# build_floor OUT.exe PAYLOAD: the floor program (floor.cpp) with PAYLOAD in its image, linked
# as a launcher is (its flags, its page-aligned sections, its libraries, from which it takes
# the launcher's own removal).
build_floor() {
  local out=$1 payload=$2 image="$bench_programs/floor-image"
  cross_flags
  rm -rf "$image" && mkdir -p "$image"
  "$bench_tool" embed --payload "$payload" --output-dir "$image" --name floor.exe >/dev/null \
    || fail "cannot write the floor's image sources"
  "$bench_cross_cxx" "${bench_cross_flags[@]}" "${kelvor_launcher_link_flags[@]}" \
      "${kelvor_gui_subsystem_flags[@]}" \
      -I"$bench_root" -I"$bench_root/.deps/zstd/lib" -o "$out" "$bench_sources/floor.cpp" "$image/image-data.S" \
      -L"$bench_launcher_dir/$kelvor_machine_cpu" "${kelvor_launcher_archives[@]/#/-l}" \
      "${kelvor_launcher_system_libraries[@]/#/-l}" || fail "cannot compile floor.cpp"
}

# build_file_floor OUT.exe: the platform's floor for a run's file work (file_floor.c), a
# GUI-subsystem program like the launcher.
build_file_floor() {
  local out=$1
  cross_flags
  "$bench_cross_cc" "${bench_cross_flags[@]}" "${kelvor_gui_subsystem_flags[@]}" -municode \
      -o "$out" "$bench_sources/file_floor.c" || fail "cannot compile file_floor.c"
}

# build_nsis_peer OUT.exe PROGRAM.exe [FILES_DIR]: the self-extracting peer (nsis_peer.nsi)
# that unpacks FILES_DIR and PROGRAM and runs PROGRAM; false when makensis is not installed.
build_nsis_peer() {
  command -v makensis >/dev/null || return 1
  local files=()
  [ -n "${3:-}" ] && files=("-DFILES=$3")
  makensis -V1 "-DOUT=$1" "-DPROGRAM=$2" "-DPROGRAM_NAME=$(basename "$2")" "${files[@]}" \
      "$bench_sources/nsis_peer.nsi" >&2 || fail "makensis failed for $1"
}
