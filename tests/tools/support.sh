# Shared by the tool tests (sourced, not run): a scratch folder removed on
# exit, a named check that counts failures, and a copy of the checkout.
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # name, then the command
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failed=$((failed + 1)); fi
}
copy_checkout() {
  mkdir -p "$1" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$1")
}
