#!/bin/bash
# Builds the benchmarks in a Release build directory and prints their figures.
# Usage: bench/run.sh [build-dir]   (default: build-bench beside the sources)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-bench}
cmake -S "$source_dir" -B "$build_dir" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
targets=$(cd "$source_dir/bench" && ls *_bench.cpp | sed 's/\.cpp$//')
for target in $targets; do
  cmake --build "$build_dir" -j2 --target "$target" >/dev/null
done

echo "== SPF step with a cache hit (spf_cache_bench)"
"$build_dir/bench/spf_cache_bench"

echo "== SPF cache filled to 10 million pairs and emptied (spf_cache_size_bench, about 1 GB)"
"$build_dir/bench/spf_cache_size_bench"

echo "== harmful-attachment body scan (body_scan_bench)"
"$build_dir/bench/body_scan_bench"

echo "== harmful attachments by MIME name and archive members (attachment_scan_bench)"
"$build_dir/bench/attachment_scan_bench"

echo "== address and name lists (list_index_bench)"
"$build_dir/bench/list_index_bench"

echo "== one DNS answer read (dns_answer_bench)"
"$build_dir/bench/dns_answer_bench"
