#!/usr/bin/env bash
# The line benchmark on this tree and on an earlier revision, one after the
# other on the same machine and the same virtual command station (this
# tree's kzsim): bench_line's source is built against the earlier revision's
# libraries in a temporary work tree.
#
# Usage: bench/line_comparison.sh REVISION [BURSTS]
#   REVISION  the revision to compare with, e.g. the last one before the
#             line had an owner
#   BURSTS    bursts for this tree (default 10); the earlier revision gets
#             one, which takes minutes there
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
revision="$1"
bursts="${2:-10}"
build_dir="${VELANTOR_BUILD_DIR:-$source_dir/build}"
old_tree="$(mktemp -d)"
trap 'git -C "$source_dir" worktree remove --force "$old_tree" >/dev/null 2>&1 || rm -rf "$old_tree"' EXIT

cmake --build "$build_dir" --target bench_line kzsim >/dev/null
git -C "$source_dir" worktree add --detach "$old_tree" "$revision" >/dev/null 2>&1
cp "$source_dir/bench/bench_line.cpp" "$old_tree/bench/"
printf '\nadd_executable(bench_line bench_line.cpp)\ntarget_link_libraries(bench_line PRIVATE dashboard)\n' \
    >> "$old_tree/bench/CMakeLists.txt"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$old_tree" -B "$old_tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null
cmake --build "$old_tree/build" --target bench_line >/dev/null

"$old_tree/build/bench/bench_line" --kzsim "$build_dir/simulator/kzsim" --bursts 1 \
    --label before 2>/dev/null || true
"$build_dir/bench/bench_line" --kzsim "$build_dir/simulator/kzsim" --bursts "$bursts" \
    --label now 2>/dev/null || true
