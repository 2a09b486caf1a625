# Sourced by bench/run: one timed run of a command, and the medians of many.
#
# Every command, the launcher's and the native ones alike, runs the same way: under GNU time
# (for its peak resident set, %M, which is the largest of the process and the children it
# waits for), with standard output to /dev/null and standard error to a file that is shown if
# the command fails. The wall time is taken around it from bash's microsecond clock, so the
# one extra fork and exec of GNU time is in every figure alike.
#
# Results go to $bench_results, one value per line and run: KEY.us (wall time, microseconds),
# KEY.kib (peak RSS, KiB), KEY.cpu (user plus system time of the command and the children it
# waited for, microseconds), KEY.ctx (context switches, voluntary and involuntary, of the
# command itself: for a Wine program, about one per wineserver request) and KEY.faults (page
# faults, minor and major: each first touch of a page, which is what a large window costs).

# measure KEY COMMAND [ARGUMENT...]
measure() {
  local key=$1
  shift
  local start end status=0
  start=${EPOCHREALTIME/./}
  /usr/bin/time -f '%M %U %S %w %c %R %F' -o "$bench_results/last.rusage" "$@" >/dev/null 2>"$bench_results/last.stderr" \
    || status=$?
  end=${EPOCHREALTIME/./}
  if [ "$status" -ne 0 ]; then
    echo "bench: error: $key: '$*' exited with code $status" >&2
    head -c 2000 "$bench_results/last.stderr" >&2
    exit 1
  fi
  echo $((end - start)) >> "$bench_results/$key.us"
  # GNU time puts a note about the exit status before the figures; they are on the last line.
  tail -n 1 "$bench_results/last.rusage" | awk -v base="$bench_results/$key" \
      '{ print $1 >> (base ".kib"); printf "%d\n", ($2 + $3) * 1e6 >> (base ".cpu"); print $4 + $5 >> (base ".ctx")
         print $6 + $7 >> (base ".faults") }'
}

# median KEY us|kib|cpu|ctx|faults|rss|anon|part-NAME: the median of the recorded values (the mean of the middle two for an
# even count).
median() {
  sort -n "$bench_results/$1.$2" | awk '{ v[NR] = $1 } END {
      if (NR == 0) exit 1
      if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# forget KEY: drops the values of KEY (a warm-up run's, say).
forget() { rm -f "$bench_results/$1".{us,kib,cpu,ctx,faults}; }

# ratio A B: A / B to two places, or "-" when B is zero.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

# Figures for the table: microseconds as ms or s, bytes and KiB as MiB.
format_time() { awk -v us="$1" 'BEGIN { if (us >= 10e6) printf "%.2f s", us / 1e6; else printf "%.1f ms", us / 1e3 }'; }
format_bytes() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
format_kib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

# verdict VALUE LIMIT: "met" when VALUE <= LIMIT, "MISSED" otherwise.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "met" : "MISSED" }'; }
