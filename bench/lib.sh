# Shared helpers of the benchmark scripts (sourced after tests/system/lib.sh).

# median_spread VALUES...: "median spread", the spread being (max - min) / median.
median_spread() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
    printf "%s %.3f\n", m, (m > 0 ? (v[NR] - v[1]) / m : 0) }'
}

# spread_warning LABEL SPREAD: adds a line to `warnings` when the runs differ by more than 20 %.
warnings=()
spread_warning() {
  awk -v s="$2" 'BEGIN { exit !(s > 0.2) }' &&
    warnings+=("WARNING: $1: runs differ by $(awk -v s="$2" 'BEGIN { printf "%.0f", s * 100 }') % of the median")
  return 0
}

# CPU time in ns of the processes (all their threads).
cpu_ns() { for p in "$@"; do cat /proc/"$p"/task/*/schedstat; done | awk '{s += $1} END {printf "%.0f", s}'; }
now_ns() { date +%s%N; }
