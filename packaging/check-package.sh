#!/usr/bin/env bash
# Checks a built .deb as a Debian user would meet it: lintian reports no
# error, the menu entry passes desktop-file-validate and the AppStream data
# appstreamcli validate, each as the package holds them.
# Usage: check-package.sh PACKAGE.deb
set -eu
deb=$1
contents=$(mktemp -d "${TMPDIR:-/tmp}/vemo-deb.XXXXXX")
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"

# As root lintian warns that it runs with root privileges; that is all.
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" > /dev/null 2>&1 || { echo "lintian found errors in $deb" >&2; exit 1; }

desktop=("$contents"/usr/share/applications/*.desktop)
[ -f "${desktop[0]}" ] || { echo "no menu entry in $deb" >&2; exit 1; }
desktop-file-validate "${desktop[@]}"
grep -qx 'Exec=vemo' "${desktop[0]}" && [ -L "$contents/usr/bin/vemo" ] || { echo "the menu entry starts no installed program" >&2; exit 1; }

metainfo=("$contents"/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "${metainfo[@]}"
echo "$deb: lintian, desktop-file-validate and appstreamcli pass"
