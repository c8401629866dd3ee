# Sourced by the benchmarks that set updater-fetch against curl under
# farm-bench: checks the tools and exports what their peers and rounds need.
#   fetch_bench_setup NAME DEFAULT_FILE_MIB [PATH/updater-fetch]
# Environment: BENCH_ROUNDS (pairs, default 9), BENCH_FILE_MIB, BENCH_DIR
# (where the downloads go; default /dev/shm when it exists).
fetch_bench_setup() {
  local name=$1 mib=$2 default_dir=/tmp
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  fetch=${3:-$root/build/release/tools/updater-fetch}
  [ -x "$fetch" ] || { echo "bench/$name: no updater-fetch at $fetch (build the release preset: cmake --preset release -DUPDATER_ALLOW_UNSIGNED=ON)" >&2; exit 64; }
  for tool in curl farm-bench; do
    command -v "$tool" >/dev/null || { echo "bench/$name: $tool is missing" >&2; exit 1; }
  done
  [ -d /dev/shm ] && [ -w /dev/shm ] && default_dir=/dev/shm
  export BENCH_ROUNDS=${BENCH_ROUNDS:-9}
  export BENCH_DIR=${BENCH_DIR:-$default_dir}
  export UPDATER_TEST_BIG_FILE_MIB=${BENCH_FILE_MIB:-$mib}
  export BENCH_FETCH=$fetch
}
