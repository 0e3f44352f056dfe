# Sourced by the peer benchmarks: installs the Debian packages named in "$@" that are missing and
# builds a release qel-batch as $Q.
need=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_GUI=OFF -DQEL_TESTS=OFF >/dev/null
cmake --build build-bench --target qel-batch >/dev/null
Q="$PWD/build-bench/qel-batch"
