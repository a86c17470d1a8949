#!/usr/bin/env bash
# What a desktop sees of an installed player.
#
#   install_test.sh install CMAKE BUILD_DIR
#     installs the build tree into a temporary prefix and checks the programs,
#     the menu entry, the .av MIME type (through update-mime-database and
#     GLib's content-type lookup), the icons and the thumbnailer.
#   install_test.sh icons SKIN_GEN SOURCE_DIR
#     checks that res/icons holds exactly what skin_gen --icons draws.
set -u -o pipefail

readonly kMime=video/x-trevolo-av
readonly kIconSizes="16 32 48 128 256"
readonly kPngRgba=6  # PNG colour type: 8-bit RGBA

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# png_header FILE: "WIDTH HEIGHT COLOURTYPE" from the PNG's IHDR chunk;
# fails when the file does not start like a PNG.
png_header() {
  local signature chunk
  signature=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  chunk=$(od -An -c -j12 -N4 "$1" | tr -d ' \n')
  [ "$signature" = 89504e470d0a1a0a ] && [ "$chunk" = IHDR ] || return 1
  echo "$(od -An -tu4 --endian=big -j16 -N4 "$1" | tr -d ' ')" \
    "$(od -An -tu4 --endian=big -j20 -N4 "$1" | tr -d ' ')" \
    "$(od -An -tu1 -j25 -N1 "$1" | tr -d ' ')"
}

hex() { od -An -tx1 -v | tr -d ' \n'; }

# desktop_value FILE KEY: the value of KEY in the [Desktop Entry] group.
desktop_value() {
  sed -n "/^\[Desktop Entry\]/,/^\[/s/^$2=//p" "$1" | head -n 1
}

check_programs() {
  local prefix=$1 program
  for program in trevolo avtool; do
    [ -f "$prefix/bin/$program" ] && [ -x "$prefix/bin/$program" ] ||
      fail "bin/$program is missing or not executable"
  done
  local usage
  usage=$("$prefix/bin/avtool" --help 2>&1) || fail "avtool --help exits with $?"
  grep -q "usage: avtool" <<<"$usage" || fail "avtool --help prints no usage: $usage"
}

check_desktop_entry() {
  local prefix=$1 entry=$1/share/applications/trevolo.desktop
  [ -f "$entry" ] || { fail "share/applications/trevolo.desktop is missing"; return; }
  local report
  report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate rejects it"
  [ -z "$report" ] || fail "desktop-file-validate: $report"

  # The entry must name what was installed: its program, its icon, its type.
  local exec icon
  exec=$(desktop_value "$entry" Exec)
  [ "$exec" = "trevolo %f" ] || fail "Exec is '$exec'"
  [ -x "$prefix/bin/${exec%% *}" ] || fail "Exec names '${exec%% *}', which is not installed"
  icon=$(desktop_value "$entry" Icon)
  [ -f "$prefix/share/icons/hicolor/32x32/apps/$icon.png" ] || fail "Icon '$icon' is not installed"
  [ "$(desktop_value "$entry" MimeType)" = "$kMime;" ] || fail "MimeType is not $kMime"
  [ "$(desktop_value "$entry" Type)" = Application ] || fail "Type is not Application"
  [ "$(desktop_value "$entry" Name)" = Trevolo ] || fail "Name is not Trevolo"
  [ "$(desktop_value "$entry" Categories)" = "AudioVideo;Video;Player;" ] ||
    fail "Categories are '$(desktop_value "$entry" Categories)'"
}

# content_type PREFIX FILE: the MIME type GLib finds for FILE with only the
# prefix's MIME database to look in.
content_type() {
  XDG_DATA_DIRS="$1/share" XDG_DATA_HOME="$work/no-user-data" GIO_USE_VFS=local \
    gio info -a standard::content-type "$2" 2>/dev/null |
    sed -n 's/^ *standard::content-type: //p'
}

check_mime_type() {
  local prefix=$1 mime=$1/share/mime
  local xml=$mime/packages/trevolo-av.xml
  [ -f "$xml" ] || { fail "share/mime/packages/trevolo-av.xml is missing"; return; }
  xmllint --noout "$xml" || fail "trevolo-av.xml is not well-formed XML"

  local report
  report=$(XDG_DATA_DIRS="$prefix/share" update-mime-database "$mime" 2>&1) ||
    fail "update-mime-database exits with $?"
  [ -z "$report" ] || fail "update-mime-database: $report"
  grep -Eq "^[0-9]+:$kMime:\*\.av$" "$mime/globs2" || fail "globs2 does not map *.av"
  # The magic rule: at offset 0, the 4 bytes FF FF FF 88.
  local rule
  rule=$(printf '>0=\000\004\377\377\377\210\n' | hex)
  hex <"$mime/magic" | grep -q "$(printf ':%s]\n' "$kMime" | hex)$rule" ||
    fail "magic has no FF FF FF 88 rule at offset 0 for $kMime"

  local files=$work/files
  mkdir -p "$files"
  printf '\377\377\377\210\000\001rest of a record' >"$files/x.av"
  # Bytes before the first marker: only the name tells, in either case.
  printf 'junk\377\377\377\210' >"$files/UPPER.AV"
  cp "$files/x.av" "$files/recording"  # no extension: found by its marker
  printf '\377\377\377\211not a marker' >"$files/other"
  local name type
  for name in x.av UPPER.AV recording; do
    type=$(content_type "$prefix" "$files/$name")
    [ "$type" = "$kMime" ] || fail "$name is '$type', not $kMime"
  done
  type=$(content_type "$prefix" "$files/other")
  [ -n "$type" ] && [ "$type" != "$kMime" ] || fail "a file without the marker is '$type'"
}

check_icons() {
  local prefix=$1 size icon header
  for size in $kIconSizes; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/trevolo.png
    header=$(png_header "$icon") || { fail "$icon is missing or not a PNG"; continue; }
    [ "$header" = "$size $size $kPngRgba" ] ||
      fail "$icon: width, height, colour type are $header, not $size $size $kPngRgba"
  done
}

test_install() {
  local cmake=$1 build=$2 prefix=$work/prefix
  if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "cmake --install failed"
    return
  fi
  # Everything installed lies inside the prefix.
  local file outside=0
  while IFS= read -r file; do
    case $file in "$prefix"/*) ;; *) outside=1; fail "installed outside the prefix: $file" ;; esac
  done <"$build/install_manifest.txt"
  [ "$outside" = 0 ] && [ -s "$build/install_manifest.txt" ] || fail "empty install manifest"

  check_programs "$prefix"
  check_desktop_entry "$prefix"
  check_mime_type "$prefix"
  check_icons "$prefix"
  local thumbnailer=$prefix/share/thumbnailers/trevolo.thumbnailer
  grep -qx "MimeType=$kMime;" "$thumbnailer" && grep -qx "Exec=avtool thumbnail -s %s %i %o" "$thumbnailer" ||
    fail "share/thumbnailers/trevolo.thumbnailer is missing or does not run avtool thumbnail for $kMime"
}

test_icons() {
  local skin_gen=$1 source=$2 size expected
  "$skin_gen" --icons "$work/icons" || { fail "skin_gen --icons failed"; return; }
  expected=$(for size in $kIconSizes; do echo "trevolo_$size.png"; done | sort)
  [ "$(ls "$work/icons" | sort)" = "$expected" ] ||
    fail "skin_gen --icons draws $(ls "$work/icons")"
  [ "$(ls "$source/res/icons" | sort)" = "$expected" ] || fail "res/icons holds other files"
  for size in $kIconSizes; do
    cmp -s "$work/icons/trevolo_$size.png" "$source/res/icons/trevolo_$size.png" ||
      fail "res/icons/trevolo_$size.png is stale: run skin_gen --icons res/icons"
  done
  # The desktop's small icons are the window's own.
  cmp -s "$source/res/icons/trevolo_16.png" "$source/res/skin/icon_16.png" ||
    fail "the 16-pixel icon differs from the window's"
  cmp -s "$source/res/icons/trevolo_32.png" "$source/res/skin/128_icon.png" ||
    fail "the 32-pixel icon differs from the window's"
}

mode=${1:-}
if [ "$mode" = install ] && [ $# -eq 3 ]; then
  test_install "$2" "$3"
elif [ "$mode" = icons ] && [ $# -eq 3 ]; then
  test_icons "$2" "$3"
else
  fail "usage: $0 install CMAKE BUILD_DIR | icons SKIN_GEN SOURCE_DIR"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all checks passed"
