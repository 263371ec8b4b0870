#!/usr/bin/env bash
# Runs the benchmark binary and prints one table: each benchmark's CPU time
# (wall time for those timed by the wall clock, "/real_time" or
# "/manual_time": work done in another process or on a token) and, where its
# group has an OpenSSL counterpart, the ratio against it.
#
# Benchmarks are named "Group/Variant[/args]"; the variant "OpenSSL" is the
# counterpart every other variant of the same group and arguments is measured
# against. Ratio = OpenSSL's time / ours: above 1 we are faster. Run with
# --benchmark_repetitions=N and the table shows each benchmark's median.
#
#   tools/bench_table.sh BENCH_BINARY [google-benchmark flags...]
set -euo pipefail
bin=$1; shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_format=console --benchmark_out="$out" --benchmark_out_format=json "$@" >&2
jq -r '
  def wall: .name | test("/(real|manual)_time$");
  def ns: (if wall then .real_time else .cpu_time end) * ({"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[.time_unit]);
  def parts: .name | sub("/(real|manual)_time$"; "") | split("/");
  def key: (parts) as $p | ([$p[0]] + $p[2:]) | join("/");
  # With --benchmark_repetitions the medians stand for each benchmark (those
  # run once whatever the flag says, such as the memory peaks, stand as run);
  # rows in name order, whatever order the runs were interleaved in.
  [.benchmarks[] | select(.error_occurred | not)] as $all
  | ($all | map(select(.run_type == "aggregate" and .aggregate_name == "median") | .name = .run_name)) as $medians
  | ($medians | map(.run_name)) as $summarised
  | ($all | map(select(.run_type == "iteration" and (.run_name as $r | $summarised | any(.[]; . == $r) | not))))
      as $singles
  | ($medians + $singles | sort_by(.name)) as $runs
  | ($runs | map(select((parts)[1] == "OpenSSL") | {(key): ns}) | add // {}) as $base
  | ["benchmark", "cpu time", "vs OpenSSL"],
    ($runs[] | [.name,
                (ns | if . >= 1e6 then "\(. / 1e6 * 100 | round / 100) ms"
                      elif . >= 1e3 then "\(. / 1e3 * 100 | round / 100) us"
                      else "\(. * 100 | round / 100) ns" end),
                (if (parts)[1] == "OpenSSL" then "1 (baseline)"
                 elif $base[key] then "\($base[key] / ns * 100 | round / 100)x"
                 else "-" end)])
  | @tsv' "$out" | while IFS=$'\t' read -r name time ratio; do
    printf '%-44s %12s  %s\n' "$name" "$time" "$ratio"
  done
