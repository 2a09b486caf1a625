# Sourced by bench/run after the measurements: prints the table of figures, medians, ratios
# and goals to standard output. Reads the medians from $bench_results and the sizes and
# settings that bench/run recorded.

# row NUMBER MEASUREMENT OURS AGAINST THEIRS RATIO GOAL RESULT
row() { printf '%-2s %-40s %12s   %-34s %12s %7s  %-9s %s\n' "$@"; }

# times_ratio A B: "2.41x"
times_ratio() { local r; r=$(ratio "$1" "$2"); [ "$r" = - ] && echo - || echo "${r}x"; }

print_main_table() {
  local exe floor tar zstd tiny plain plain_twice net
  exe=$(median ref.exe us) floor=$(median ref.floor us) tar=$(median ref.tar us) zstd=$(median ref.zstd us)
  tiny=$(median tiny.exe us) plain=$(median plain.exe us) plain_twice=$(median plain.twice us)
  net=$(awk -v a="$exe" -v b="$tiny" 'BEGIN { print a - b }')

  local peak anon window limit plain_peak tar_peak tiny_peak
  peak=$(median ref.exe rss) anon=$(median ref.exe anon) plain_peak=$(median plain.exe kib)
  tar_peak=$(median ref.tar kib) tiny_peak=$(median tiny.exe kib)
  window=$reference_window
  limit=$(awk -v w="$window" 'BEGIN { print w / 1024 + 4 * 1024 }')

  local pack tarzstd pack_cpu tarzstd_cpu
  pack=$(median pack.kelvor us) tarzstd=$(median pack.tar us)
  pack_cpu=$(median pack.kelvor cpu) tarzstd_cpu=$(median pack.tar cpu)
  local native_pack="tar | zstd -$level -T$threads"

  row "#" "measurement" "kelvor" "compared with" "median" "ratio" "goal" "result"
  row 1 "unpack and run, reference application" "$(format_time "$exe")" \
      "tar --zstd -xf, then rm -rf" "$(format_time "$tar")" "$(times_ratio "$exe" "$tar")" \
      "<= 1.5x" "$(verdict "$(ratio "$exe" "$tar")" 1.5)"
  row "" "" "" "its floor: the same calls alone (+)" "$(format_time "$floor")" "$(times_ratio "$exe" "$floor")" \
      "<= 1.05x" "$(verdict "$(ratio "$exe" "$floor")" 1.05)"
  row "" "" "" "zstd -d to /dev/null (decoding)" "$(format_time "$zstd")" "$(times_ratio "$exe" "$zstd")" "" ""
  peer_row ref "$exe"
  row "" "  less the tiny application's start-up" "$(format_time "$net")" \
      "tar --zstd -xf, then rm -rf" "$(format_time "$tar")" "$(times_ratio "$net" "$tar")" "" ""
  print_small_files_rows
  row 2 "start-up, tiny application (one DLL)" "$(format_time "$tiny")" \
      "plain hello.exe under Wine" "$(format_time "$plain")" "$(times_ratio "$tiny" "$plain")" \
      "<= 2.5x" "$(verdict "$(ratio "$tiny" "$plain")" 2.5)"
  local program
  program=$(median tiny.program us)
  row "" "start-up, the plain program packed (--exe)" "$(format_time "$program")" \
      "plain hello.exe under Wine" "$(format_time "$plain")" "$(times_ratio "$program" "$plain")" \
      "<= 2.5x" "$(verdict "$(ratio "$program" "$plain")" 2.5)"
  row "" "" "" "the tiny application (a DLL)" "$(format_time "$tiny")" "$(times_ratio "$program" "$tiny")" \
      "<= 1.1x" "$(verdict "$(ratio "$program" "$tiny")" 1.1)"
  peer_row tiny "$tiny"
  row "" "  plain hello.exe starting itself once" "$(format_time "$plain_twice")" \
      "plain hello.exe under Wine" "$(format_time "$plain")" "$(times_ratio "$plain_twice" "$plain")" "" ""
  local tiny_ctx plain_ctx
  tiny_ctx=$(median tiny.exe ctx) plain_ctx=$(median plain.exe ctx)
  row "" "  context switches of the parent (*)" "$tiny_ctx" \
      "plain hello.exe" "$plain_ctx" "$(times_ratio "$tiny_ctx" "$plain_ctx")" "" ""
  row 3 "peak anonymous memory of the parent run" "$(format_kib "$anon")" \
      "window $(format_bytes "$window") + 4 MiB" "$(format_kib "$limit")" "$(times_ratio "$anon" "$limit")" \
      "<= 1.00x" "$(verdict "$(ratio "$anon" "$limit")" 1)"
  row "" "  peak resident set of the parent run" "$(format_kib "$peak")" "(the payload's pages counted too)" "" "" "" ""
  row "" "  peak RSS, tiny application's parent" "$(format_kib "$tiny_peak")" \
      "plain hello.exe (Wine itself)" "$(format_kib "$plain_peak")" "$(times_ratio "$tiny_peak" "$plain_peak")" "" ""
  row "" "" "" "tar --zstd -xf (largest process)" "$(format_kib "$tar_peak")" "" "" ""
  row 4 "packing time, level $level, $threads threads" "$(format_time "$pack")" \
      "$native_pack" "$(format_time "$tarzstd")" "$(times_ratio "$pack" "$tarzstd")" \
      "<= 1.00x" "$(verdict "$(ratio "$pack" "$tarzstd")" 1)"
  row "" "  CPU time, user + system" "$(format_time "$pack_cpu")" \
      "$native_pack" "$(format_time "$tarzstd_cpu")" "$(times_ratio "$pack_cpu" "$tarzstd_cpu")" "" ""
  row "" "packing output size" "$(format_bytes "$payload_bytes")" \
      "$native_pack" "$(format_bytes "$archive_bytes")" "$(times_ratio "$payload_bytes" "$archive_bytes")" \
      "<= 1.00x" "$(verdict "$(ratio "$payload_bytes" "$archive_bytes")" 1)"
}

# peer_row KEY OURS_US: the NSIS peer of the same application; never slower is the goal.
peer_row() {
  if ! $nsis_peers; then
    row "" "" "" "NSIS peer (makensis not installed)" "" "" "" ""
    return
  fi
  local peer
  peer=$(median "$1.nsis" us)
  row "" "" "" "NSIS $(makensis -VERSION) peer, LZMA solid" "$(format_time "$peer")" "$(times_ratio "$2" "$peer")" \
      "<= 1.00x" "$(verdict "$(ratio "$2" "$peer")" 1)"
}

# 2,000 small files against tar, the platform's floor and the peer.
print_small_files_rows() {
  local exe tar floor
  exe=$(median small.exe us) tar=$(median small.tar us) floor=$(median small.floor us)
  row 1c "unpack and run, 2,000 files of 4 KiB" "$(format_time "$exe")" \
      "tar --zstd -xf, then rm -rf" "$(format_time "$tar")" "$(times_ratio "$exe" "$tar")" \
      "<= 2.5x" "$(verdict "$(ratio "$exe" "$tar")" 2.5)"
  row "" "  (text, 40 folders, tiny DLL)" "" "a plain program writing, removing them" "$(format_time "$floor")" \
      "$(times_ratio "$exe" "$floor")" "<= 1.1x" "$(verdict "$(ratio "$exe" "$floor")" 1.1)"
  peer_row small "$exe"
}

# The parts of a parent run of the reference application, from the instrumented build.
print_parts_table() {
  local part whole
  whole=$(median ref.timed part-whole_run)
  echo "   parts of a parent run (instrumented build, median of $runs; decode and files run on two"
  echo "   threads at once, so the rest of unpacking is what is left of the wall time, and may be negative):"
  for part in start-up decode files "rest of unpacking" "child start" "child until the DLL load" "DLL load" \
              "child end" removal "whole run"; do
    local value
    value=$(median ref.timed "part-${part// /_}")
    printf '     %-28s %10s %6s\n' "$part" "$(format_time "$value")" \
        "$(awk -v v="$value" -v w="$whole" 'BEGIN { if (w > 0) printf "%d%%", 100 * v / w }')"
  done
}

# The reference run at each processor level the machine runs, against its own level.
print_levels_table() {
  local cpu own
  own=$(median "level.${bench_levels[0]}" us)
  echo "1b unpack and run, reference application, at each processor level this machine runs"
  echo "   (processor: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1))"
  for cpu in "${bench_levels[@]}"; do
    printf '   %-12s %12s %8s\n' "$cpu" "$(format_time "$(median "level.$cpu" us)")" \
        "$(times_ratio "$(median "level.$cpu" us)" "$own")"
  done
}

# The window series: what a larger window costs or saves.
print_window_table() {
  local what log
  echo "6  window: the same payload packed with windows of 8 to 128 MiB, run side by side"
  printf '   %-34s %8s %12s %12s %10s %11s %11s\n' payload window executable "parent run" "page faults" \
      "peak RSS" "anonymous"
  for what in ref scale; do
    for log in "${window_logs[@]}"; do
      local key="window.$what.$log"
      printf '   %-34s %8s %12s %12s %10s %11s %11s\n' \
          "$([ "$what" = ref ] && echo "reference application, level $level" || echo "100 MiB in 100 files, level $scaling_level")" \
          "$((1 << (log - 20))) MiB" "$(format_bytes "$(cat "$bench_results/$key.size")")" \
          "$(format_time "$(median "$key" us)")" "$(median "$key" faults)" "$(format_kib "$(median "$key" rss)")" \
          "$(format_kib "$(median "$key" anon)")"
    done
  done
}

# scaling_row COUNT MIB TINY_US
scaling_row() {
  local key="scale.$1.$2" exe tar net window size peak
  exe=$(median "$key.exe" us) tar=$(median "$key.tar" us) peak=$(median "$key.exe" kib)
  read -r window size < "$bench_results/$key.window"
  net=$(awk -v a="$exe" -v b="$3" 'BEGIN { print a - b }')
  printf '   %6s %9s %11s %11s %12s %12s %7s %11s %10s\n' "$1" "$2 MiB" "$(format_bytes "$size")" \
      "$(format_bytes "$window")" "$(format_time "$exe")" "$(format_time "$tar")" "$(times_ratio "$exe" "$tar")" \
      "$(format_time "$net")" "$(format_kib "$peak")"
}

# growth "what" A_KEY B_KEY UNITS: the cost of each extra unit between two scaling cases.
growth() {
  local units=$4
  awk -v ea="$(median "$2.exe" us)" -v eb="$(median "$3.exe" us)" \
      -v ta="$(median "$2.tar" us)" -v tb="$(median "$3.tar" us)" -v u="$units" -v what="$1" 'BEGIN {
        printf "   each extra %s costs %.3f ms with kelvor, %.3f ms with tar (%.2fx)\n",
               what, (eb - ea) / u / 1e3, (tb - ta) / u / 1e3, (tb == ta) ? 0 : (eb - ea) / (tb - ta) }'
}

print_scaling_table() {
  local tiny count mib first last
  tiny=$(median tiny.exe us)
  echo "5  scaling: unpack and run, tiny DLL plus N files of machine-code-like data, packed at level $scaling_level"
  echo "   (a fast level, so that building the payloads takes seconds; decoding speed hardly depends on it)"
  printf '   %6s %9s %11s %11s %12s %12s %7s %11s %10s\n' files total executable window kelvor "tar, rm -rf" \
      ratio "less start" "peak RSS"
  for count in "${count_series[@]}"; do scaling_row "$count" "$count_series_mib" "$tiny"; done
  first=${count_series[0]} last=${count_series[-1]}
  growth "file (same $count_series_mib MiB)" "scale.$first.$count_series_mib" "scale.$last.$count_series_mib" $((last - first))
  for mib in "${total_series_mib[@]}"; do scaling_row "$total_series_files" "$mib" "$tiny"; done
  first=${total_series_mib[0]} last=${total_series_mib[-1]}
  growth "MiB ($total_series_files files)" "scale.$total_series_files.$first" "scale.$total_series_files.$last" \
      $((last - first))
  [ -z "$large_left_out" ] || echo "   the $large_mib MiB payload: $large_left_out"
}

print_report() {
  local commit wine_version zstd_version
  commit=$(HOME=$bench_user_home git -C "$bench_root" rev-parse --short HEAD 2>/dev/null || echo unknown)
  [ -z "$(HOME=$bench_user_home git -C "$bench_root" status --porcelain --untracked-files=no 2>/dev/null)" ] \
    || commit="$commit+changes"
  wine_version=$("$bench_wine64" --version 2>/dev/null || echo "wine ?")
  zstd_version=$(zstd -V | sed -n 's/.* v\([0-9.]*\).*/\1/p')
  echo
  echo "kelvor-onefile benchmarks: median of $runs runs ($startup_rounds for start-up), commands side by side"
  echo "commit $commit, $wine_version, zstd $zstd_version, $(nproc) cores, load $load_at_start at start, $load_at_end at end"
  echo "reference application: $reference_entries entries (the DLL first), $(format_bytes "$reference_bytes") of files," \
       "packed at level $level: $(format_bytes "$payload_bytes"), window $(format_bytes "$reference_window")"
  echo
  print_main_table
  print_parts_table
  echo
  print_levels_table
  echo
  print_scaling_table
  echo
  print_window_table
  echo
  echo "Times are wall clock around the whole command; every command runs under GNU time the same way."
  echo "The kelvor runs are the parent process under Wine: unpacking, the child and its run_code (which"
  echo "returns at once), removal of the directory. Peak RSS is GNU time's %M of the Wine process that runs"
  echo "the parent; the child is started by Wine outside that process tree and is not counted."
  echo "(*) Voluntary plus involuntary, from GNU time: about one per wineserver request, so a count that"
  echo "noise does not change. Each request costs more when the other core must be woken for it, which"
  echo "on a virtual machine makes Wine's start-up times vary by several times in spells of a few runs."
  echo "(+) The floor program (bench/floor.cpp) makes the system calls of a launcher run in a straight"
  echo "line and nothing else, with the same payload in its image: what the launcher costs beyond it is"
  echo "its own code."
  echo "Memory is sampled from /proc every millisecond: the anonymous part is what the process allocated"
  echo "(the decoder's window among it), the resident set also counts the payload read from the image."
  echo "Raw figures: $bench_results"
}
