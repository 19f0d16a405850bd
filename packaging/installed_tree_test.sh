#!/usr/bin/env bash
# The installed tree, as an ordinary user: `cmake --install` into a staging
# folder (DESTDIR), the whole tree made read-only, then
#  - the installed vemo-trace, started through its link in bin/, traces the
#    sample (BMP) and a PNG through the installed plug-in; its settings come
#    from a per-user copy in $XDG_CONFIG_HOME/vemo, made from the installed
#    file, which stays byte for byte as delivered;
#  - the window (installed_window_tests, if given) started on the installed
#    system folder saves a changed field at close into its user's copy,
#    while a second user's copy stays untouched.
# Usage: installed_tree_test.sh SOURCE_DIR BUILD_DIR [WINDOW_TEST]
set -eu
source_dir=$1
build_dir=$2
window_test=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/vemo-installed.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"  # an ordinary user must reach the tree
root=$work/root
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build_dir" --prefix /usr > "$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }

# Layout: one private folder, links in bin/ that lead into it.
private=$root/usr/lib/vemo
system=$private/Vemosys
for file in "$system/Vemo.sys" "$system/Vemo_base.bmp" "$system/help/Vemo_help.htm" \
            "$system/vemo_tiff.spi" "$system/vemo_png.spi" "$system/vemo_gif.spi" \
            "$root/usr/share/man/man1/vemo-trace.1.gz" "$root/usr/share/doc/vemo/copyright" \
            "$root/usr/share/bash-completion/completions/vemo-trace"; do
  [ -f "$file" ] || fail "not installed: ${file#$root}"
done
[ "$(readlink "$root/usr/bin/vemo-trace")" = ../lib/vemo/vemo-trace ] || fail "bin/vemo-trace is no relative link"
[ "$(stat -c %a "$system/Vemo.sys")" = 444 ] || fail "the installed Vemo.sys is writable"
cmp -s "$system/Vemo.sys" "$source_dir/Vemosys/Vemo.sys" || fail "the installed Vemo.sys differs from the delivered one"

# bash completion offers the installed program's options, --units' values.
completions=$(bash -c '
  source "$1"
  COMP_WORDS=("$2" --un); COMP_CWORD=1; _vemo_trace; echo "${COMPREPLY[*]}"
  COMP_WORDS=("$2" --units ""); COMP_CWORD=2; _vemo_trace; echo "${COMPREPLY[*]}"
  COMP_WORDS=("$2" -); COMP_CWORD=1; _vemo_trace; echo "${#COMPREPLY[@]}"' _ \
  "$root/usr/share/bash-completion/completions/vemo-trace" "$private/vemo-trace")
[ "$(echo "$completions" | sed -n 1p)" = --units ] || fail "completion of --un: $completions"
[ "$(echo "$completions" | sed -n 2p)" = "px mm in" ] || fail "completion of --units: $completions"
[ "$(echo "$completions" | sed -n 3p)" -ge 20 ] || fail "completion of -: $completions"

# Users' folders; the installed tree read-only and, when run as root,
# everything run as nobody, who owns only the users' folders.
users=$work/users
mkdir -p "$users/a/config" "$users/b/config" "$users/out" "$users/images"
cp "$source_dir/samples/plan.bmp" "$users/images/plan.bmp"
python3 - "$source_dir/samples/plan.bmp" "$users/images/scan.png" <<'PY'
import struct, sys, zlib
# The sample as a 1-bit PNG: enough to prove the installed PNG plug-in loads.
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height = struct.unpack_from('<ii', data, 18)
bits, = struct.unpack_from('<H', data, 28)
assert bits == 1, 'the sample is a 1-bit BMP'
stride = ((width + 31) // 32) * 4
palette = data[54:62]
ink_is_one = palette[4:7] == b'\0\0\0'
rows = []
for y in range(height):
    stored = height - 1 - y if height > 0 else y  # bottom-up unless the height is negative
    row = data[offset + stored * stride:][:(width + 7) // 8]
    if ink_is_one:
        row = bytes(255 - b for b in row)
    rows.append(b'\0' + row)
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, abs(height), 1, 0, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows))) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
PY
chmod -R a-w "$root"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown -R nobody:nogroup "$users"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
run_as() {  # run_as USER COMMAND...: with that user's home and config folder
  local user=$1
  shift
  env HOME="$users/$user" XDG_CONFIG_HOME="$users/$user/config" "${as_user[@]}" "$@"
}

run_as a "$root/usr/bin/vemo-trace" -q --txt --dxf -o "$users/out" "$users/images/plan.bmp" "$users/images/scan.png" \
  || fail "the installed vemo-trace failed"
for file in plan.txt plan.dxf scan.txt scan.dxf; do
  [ -s "$users/out/$file" ] || fail "no $file written"
done
cmp -s "$users/a/config/vemo/Vemo.sys" "$system/Vemo.sys" || fail "user a's settings are no copy of the installed file"
cmp -s "$system/Vemo.sys" "$source_dir/Vemosys/Vemo.sys" || fail "the installed Vemo.sys changed"

if [ -n "$window_test" ]; then
  run_as b "$root/usr/bin/vemo-trace" -q --txt -o "$users/out" "$users/images/plan.bmp" || fail "user b's run"
  cp "$users/b/config/vemo/Vemo.sys" "$work/b-before"
  rm -rf "$users/a/config/vemo"
  run_as a env VEMO_INSTALLED_SYSTEM="$system" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$users/a" \
    "$window_test" || fail "the window on the installed tree"
  cmp -s "$users/b/config/vemo/Vemo.sys" "$work/b-before" || fail "user b's settings changed"
  cmp -s "$system/Vemo.sys" "$source_dir/Vemosys/Vemo.sys" || fail "the installed Vemo.sys changed"
fi
echo "installed tree: vemo-trace${window_test:+ and the window} keep their settings per user"
