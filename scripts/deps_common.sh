# The shared start of the cross-build scripts, sourced by them. deps_begin
# NAME ARCH sets root, deps and prefix (build/deps/NAME-ARCH), holds
# build/deps/NAME.lock for the rest of the script, so that parallel builds
# wait for one another, and ends the script when that install is finished.
deps_begin() {
  root=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
  deps=$root/build/deps
  prefix=$deps/$1-$2
  mkdir -p "$deps"
  exec 9>"$deps/$1.lock"
  flock 9
  if [ -f "$prefix/.done" ]; then exit 0; fi
}
