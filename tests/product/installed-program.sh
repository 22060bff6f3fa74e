#!/bin/sh
# Installs the build to a fresh prefix (with a space in its path) and checks
# that the program folder is complete, that the desktop entry starts the
# installed program with its icon, that the manual pages cover the command
# line, that the installed program lists and changes its own sample tables
# from the command line, and that a user who may not write the program
# folder works in a copy of their own.
# Usage: installed-program.sh CMAKE BUILD-FOLDER PROGRAM-FOLDER-BELOW-PREFIX
set -eu
cmake=$1
build=$2
below=$3

work=$(mktemp -d)
manifest="$build/install_manifest.txt"
# An install writes its manifest into the build folder; keep the user's own.
[ -f "$manifest" ] && cp "$manifest" "$work/manifest.kept"
finish() {
  if [ -f "$work/manifest.kept" ]; then cp "$work/manifest.kept" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

prefix="$work/my programs"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
program="$prefix/$below"

for file in orlintide pdxtool dbTemp.mdb HAND-M.CUR orlintide-256.png orlintide-48.png \
  Samples/CUSTOMER.db Samples/CUSTOMER.mb Samples/Archive/VENDORS.db Samples/Archive/VENDORS.mb; do
  [ -f "$program/$file" ] || fail "the program folder lacks $file"
done
[ -x "$program/orlintide" ] && [ -x "$program/pdxtool" ] || fail "the programs are not executable"
for size in 256 48; do
  [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/orlintide.png" ] || fail "no ${size}x${size} icon"
done
# Nothing else lands outside the program folder: removing it and these files uninstalls.
outside=$(cd "$prefix" && find . ! -type d ! -path "./$below/*" | sort | tr '\n' ' ')
[ "$outside" = "./bin/orlintide ./bin/pdxtool ./share/applications/orlintide.desktop ./share/icons/hicolor/256x256/apps/orlintide.png ./share/icons/hicolor/48x48/apps/orlintide.png ./share/man/man1/orlintide.1.gz ./share/man/man1/pdxtool.1.gz ./share/metainfo/example.tamberlyn.orlintide.metainfo.xml " ] ||
  fail "files outside the program folder: $outside"
# The commands on the PATH lead into the program folder, wherever the prefix is.
for command in orlintide pdxtool; do
  [ "$(readlink "$prefix/bin/$command")" = "$(realpath --relative-to="$prefix/bin" "$program")/$command" ] ||
    fail "bin/$command leads to $(readlink "$prefix/bin/$command")"
done
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/example.tamberlyn.orlintide.metainfo.xml" >"$work/appstream.log" ||
    { cat "$work/appstream.log"; fail "appstreamcli validate"; }
fi

# The manual page documents every option the program's usage names, and
# every sub-command of pdxtool.
page=$(gzip -dc "$prefix/share/man/man1/orlintide.1.gz")
for option in $("$prefix/bin/orlintide" --help | grep -o -- '--[a-z-]*' | sort -u); do
  echo "$page" | grep -q -- "^\.[BI]*R* *$(echo "$option" | sed 's/-/\\\\-/g')" || fail "orlintide.1 does not document $option"
done
page=$(gzip -dc "$prefix/share/man/man1/pdxtool.1.gz")
for command in $("$prefix/bin/pdxtool" 2>&1 | awk '/^  pdxtool / { print $2 }'); do
  echo "$page" | grep -q "^\.BI* $command" || fail "pdxtool.1 does not document $command"
done

entry="$prefix/share/applications/orlintide.desktop"
grep -qx "Exec=\"$program/orlintide\"" "$entry" || fail "the desktop entry does not start $program/orlintide: $(grep Exec "$entry")"
grep -qx 'Icon=orlintide' "$entry" || fail "the desktop entry names no icon"
grep -qx 'Type=Application' "$entry" || fail "the desktop entry is no application"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || fail "desktop-file-validate"; fi

# The installed program finds everything beside itself, whatever the current folder.
cd "$work"
tables=$("$program/orlintide" --list-tables --folder "$program/Samples")
[ "$tables" = "CUSTOMER" ] || fail "--list-tables in Samples gave: $tables"
tables=$("$program/orlintide" --list-tables --folder "$program/Samples/Archive")
[ "$tables" = "VENDORS" ] || fail "--list-tables in Samples/Archive gave: $tables"

"$program/orlintide" --folder "$program/Samples" --table CUSTOMER --field City --case upper >"$work/run.out" 2>"$work/run.err" ||
  { cat "$work/run.err"; fail "the run on the installed samples"; }
[ "$(cat "$work/run.out")" = "Done." ] || fail "the run said: $(cat "$work/run.out")"
cities=$("$program/orlintide" --folder "$program/Samples" --table CUSTOMER --field City --preview)
echo "$cities" | grep -qx 'ZÜRICH' || fail "no ZÜRICH after the run: $cities"
echo "$cities" | grep -qx 'KØBENHAVN' || fail "no KØBENHAVN after the run: $cities"
[ -z "$(echo "$cities" | grep '[[:lower:]]')" ] || fail "small letters left: $cities"

# The new table reads back with the installed table tool.
"$program/pdxtool" info "$program/Samples/CUSTOMER.db" | grep -q '^records: 24$' || fail "pdxtool info of the new table"
# A program folder its user may not write (a shared install): the program
# works in the user's own copy in $XDG_DATA_HOME/orlintide, made on the first
# start, and leaves the installed files alone.
data="$work/data home"
mkdir -p "$data"
installed_files() { (cd "$program" && find . -type f -exec sha256sum {} + | sort); }
before=$(installed_files)
if [ "$(id -u)" -eq 0 ]; then
  # The super-user may write anywhere: this part runs as nobody.
  chmod 755 "$work"
  chmod -R a+rX "$prefix"
  chown nobody "$data"
  as_user() { runuser -u nobody -- env HOME="$data" XDG_DATA_HOME="$data" "$@"; }
else
  chmod a-w "$program"
  as_user() { env XDG_DATA_HOME="$data" "$@"; }
fi
copy="$data/orlintide"
as_user "$program/orlintide" --folder "$copy/Samples" --table CUSTOMER --field City --case lower \
  >"$work/copy-run.out" 2>"$work/copy-run.err" || { cat "$work/copy-run.err"; fail "the run on the user's copy"; }
chmod u+w "$program"
[ "$(cat "$work/copy-run.out")" = "Done." ] || fail "the run on the user's copy said: $(cat "$work/copy-run.out")"
[ -f "$copy/dbTemp.mdb" ] && [ ! -e "$copy/orlintide" ] || fail "the working copy is not the program's files"
[ "$(stat -c %a "$copy")" = 700 ] || fail "the working copy is open to others: $(stat -c %a "$copy")"
cities=$(as_user "$program/orlintide" --folder "$copy/Samples" --table CUSTOMER --field City --preview)
echo "$cities" | grep -qx 'zürich' || fail "no zürich in the user's copy after the run: $cities"
[ "$(installed_files)" = "$before" ] || fail "the installed files changed"

echo "installed program: all checks passed"
