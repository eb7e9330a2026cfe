#!/usr/bin/env bash
# Holds the .deb to Debian's conventions: lintian with no errors, the desktop entry through
# desktop-file-validate and the AppStream metadata through appstreamcli, both as installed by the
# package. Builds the package first (make package).
#   scripts/check-package.sh [BUILD]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh
make --no-print-directory package BUILD="$build" >/dev/null
deb=$(ls -t "$build"/quarvel_*.deb | head -n 1)
echo "check-package: $deb"

status=0
# lintian refuses to run as root without this; it reads the package, it does not install it.
lintian_args=(--display-info --tag-display-limit 0)
[ "$(id -u)" -eq 0 ] && lintian_args+=(--allow-root)
lintian "${lintian_args[@]}" "$deb" | tee "$build/lintian.log" || true
if grep -q '^E: ' "$build/lintian.log"; then
  echo "check-package: lintian reports errors" >&2
  status=1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for f in "$unpacked"/usr/share/applications/*.desktop; do
  desktop-file-validate "$f" || status=1
done
metainfo=("$unpacked"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || { echo "check-package: no AppStream metainfo in the package" >&2; status=1; }
for f in "${metainfo[@]}"; do
  [ -f "$f" ] && { appstreamcli validate --no-net "$f" || status=1; }
done
for f in usr/share/man/man1/quarvel.1.gz usr/share/man/man1/quarvelctl.1.gz \
  usr/share/bash-completion/completions/quarvelctl usr/share/doc/quarvel/manual/index.html; do
  [ -f "$unpacked/$f" ] || { echo "check-package: /$f is not in the package" >&2; status=1; }
done

# A new version needs its changelog entry (packaging/changelog) as well.
version=$(dpkg-deb -f "$deb" Version)
if ! zcat "$unpacked/usr/share/doc/quarvel/changelog.gz" | head -n 1 | grep -qF "quarvel ($version)"; then
  echo "check-package: packaging/changelog does not begin with version $version" >&2
  status=1
fi

[ $status -eq 0 ] && echo "check-package: lintian has no errors; desktop entry and metainfo are valid"
exit $status
