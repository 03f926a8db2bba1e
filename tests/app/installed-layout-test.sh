#!/bin/sh
# Installs a build into a throw-away prefix, as `make install` would, and checks that the
# installed program runs from there: the menu entry and metadata are valid, every icon is in
# place, and the installed self-test passes, which needs the resources installed beside the
# program (the build tree's copy is out of its reach).
#   installed-layout-test.sh BUILD_DIR CMAKE
set -eu
build_dir=$1
cmake=$2
app_id=ai.kelo.velk

prefix=$(mktemp -d "${TMPDIR:-/tmp}/velk-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

"$cmake" --install "$build_dir" --prefix "$prefix/usr" >/dev/null
share=$prefix/usr/share
[ -x "$prefix/usr/bin/velk" ] || fail "bin/velk was not installed"
[ -f "$share/velk/resources/Example Project/hello.py" ] || fail "the example project is missing"
[ ! -e "$prefix/usr/bin/resources" ] || fail "resources were installed beside the program"
for size in 16 32 48 64 128 256 512; do
    [ -f "$share/icons/hicolor/${size}x$size/apps/$app_id.png" ] || fail "no ${size}px icon"
done
[ -f "$share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "no scalable icon"

desktop-file-validate "$share/applications/$app_id.desktop"
grep -qx "Icon=$app_id" "$share/applications/$app_id.desktop" || fail "the entry names another icon"
appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml" ||
    fail "the AppStream metadata is not valid"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" \
    "$share/metainfo/$app_id.metainfo.xml" || fail "the metadata launches another entry"

cd "$prefix"
env -u VELK_RESOURCES "$prefix/usr/bin/velk" --self-test --test-output "$prefix/output" \
    >"$prefix/stdout" || { cat "$prefix/stdout"; fail "the installed self-test failed"; }
[ "$(cat "$prefix/stdout")" = VELK_TESTS_PASSED ] || fail "the self-test printed $(cat "$prefix/stdout")"
echo "installed layout in order"
