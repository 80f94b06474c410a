#!/usr/bin/env bash
# Builds the libFuzzer targets of the portable code that reads what devices send, with clang, apart from the CMake
# build, and optionally runs each of them for a while:
#
#   tests/fuzz/build.sh [--run SECONDS] [OUT_DIR]     (OUT_DIR defaults to build/fuzz)
#
# Each target starts from its seed corpus in tests/fuzz/corpus/<target> and grows a working copy
# in OUT_DIR/corpus/<target>, so the seeds in the tree stay as they are. A crash leaves its input
# in OUT_DIR (crash-*, leak-*, timeout-*) and makes the script fail.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

run_seconds=0
if [[ ${1:-} == --run ]]; then
    run_seconds=${2:?--run needs a number of seconds}
    shift 2
fi
out=${1:-$root/build/fuzz}
mkdir -p "$out"

CXX=${CXX:-clang++}
flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all -Wall -Wextra -Werror -I"$root")

# target name and the core sources it needs
declare -A sources=(
    [fuzz_url]="http/Url.cpp http/HttpWire.cpp"
    [fuzz_http_response]="http/HttpWire.cpp"
    [fuzz_search_reply]="discovery/Datagrams.cpp discovery/DeviceRow.cpp"
    [fuzz_upgrade_answer]="upgrade/PackageUpload.cpp upgrade/ProgressPolling.cpp upgrade/UpgradeSession.cpp http/HttpRequest.cpp http/HttpWire.cpp http/Url.cpp http/Base64.cpp net/Socket.cpp app/LeadingInt.cpp"
    [fuzz_dvsnet_frame]="dvsnet/Protocol.cpp"
)

for target in "${!sources[@]}"; do
    files=()
    for source in ${sources[$target]}; do
        files+=("$root/$source")
    done
    echo "building $out/$target"
    "$CXX" "${flags[@]}" "$here/$target.cpp" "${files[@]}" -o "$out/$target"
done

if ((run_seconds > 0)); then
    for target in "${!sources[@]}"; do
        corpus=$out/corpus/$target
        mkdir -p "$corpus"
        echo "running $target for ${run_seconds}s"
        (cd "$out" && "./$target" -max_total_time="$run_seconds" -max_len=8192 -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$here/corpus/$target")
    done
fi
