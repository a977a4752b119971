# The shared start of the cross-build scripts, sourced by them. deps_begin
# NAME ARCH RECIPE sets root, deps and prefix (build/deps/NAME-ARCH), holds
# build/deps/NAME.lock for the rest of the script, so that parallel builds
# wait for one another, and ends the script when that install is finished
# and was made by the same RECIPE (the compiler and options that shape the
# library): a changed recipe rebuilds it. deps_done marks the install
# finished.
deps_begin() {
  root=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
  deps=$root/build/deps
  prefix=$deps/$1-$2
  recipe=$3
  mkdir -p "$deps"
  exec 9>"$deps/$1.lock"
  flock 9
  if [ -f "$prefix/.done" ] && [ "$(cat "$prefix/.done")" = "$recipe" ]; then exit 0; fi
}

deps_done() {
  printf '%s\n' "$recipe" > "$prefix/.done"
}
