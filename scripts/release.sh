#!/usr/bin/env bash
# Builds what a trader installs, from this checkout, into dist/:
#   MORVA_Orderbook-<version>.zip        the two libraries, the MQL include and the install guide,
#                                        laid out like a terminal's data folder
#   MORVA_Orderbook-<version>-debug.zip  the libraries' debug information; each library names its
#                                        file (.gnu_debuglink), so a trader's crash address can be
#                                        symbolised
#   SHA256SUMS                           the hashes of both archives
#   update/                              with --indicators: what the publisher uploads to the
#                                        configuration host for the update check and installation
# The libraries are optimised, stripped and reproducible: the same commit gives the same bytes in
# any folder. The script checks its own output and prints sizes and hashes.
#
# Usage: scripts/release.sh [--settings FILE] [--indicators DIR] [--metadata FILE] [--verify]
#                           [--version VERSION]
#   --settings FILE  a CMake cache script (cmake -C) with the broker's deployment settings; without
#                    it the library talks to the reserved .example hosts (README, "Deployment
#                    settings")
#   --indicators DIR the compiled indicators, MORVA_Order_Book_<LANGUAGE>.ex4 and .ex5, which
#                    MetaEditor builds; with them the update tree is written
#   --metadata FILE  the metadata documents' members besides "version", by path on the
#                    configuration host (default packaging/update-metadata.json)
#   --verify         build a second time from a copy of the sources in another folder, without the
#                    compiler cache, and require byte-identical libraries and archives
#   --version V      release a copy of this checkout as version V instead (in build/release-V/src,
#                    its output in build/release-V/src/dist): what the update tests install
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

settings=
indicators=
metadata=$root/packaging/update-metadata.json
verify=0
version_override=
usage="usage: scripts/release.sh [--settings FILE] [--indicators DIR] [--metadata FILE] [--verify]
                          [--version VERSION]"
while [ $# -gt 0 ]; do
    case $1 in
        --version)
            [[ ${2:-} =~ ^[0-9]+(\.[0-9]+){3}$ ]] ||
                { echo "--version needs four numbers joined by dots; $usage" >&2; exit 2; }
            version_override=$2
            shift 2 ;;
        --settings | --indicators | --metadata)
            [ $# -ge 2 ] && [ -e "$2" ] || { echo "$1 needs an existing path; $usage" >&2; exit 2; }
            declare "${1#--}=$(realpath "$2")"
            shift 2 ;;
        --verify) verify=1; shift ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
done

fail() { echo "release: $*" >&2; exit 1; }

# Every file of the checkout that git would keep, with any uncommitted change.
copy_sources() {  # copy_sources FOLDER
    mkdir -p "$1"
    git ls-files -z --cached --others --exclude-standard |
        tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$1"
}

forwarded=(${settings:+--settings "$settings"} ${indicators:+--indicators "$indicators"}
           --metadata "$metadata")

if [ -n "$version_override" ]; then
    copy=build/release-$version_override/src
    rm -rf "$copy"
    copy_sources "$copy"
    sed -i -E "s/^(project\(morva_orderbook VERSION )[0-9.]+/\1$version_override/" "$copy/CMakeLists.txt"
    grep -q "^project(morva_orderbook VERSION $version_override " "$copy/CMakeLists.txt" ||
        fail "no project version to replace in CMakeLists.txt"
    exec "$copy/scripts/release.sh" "${forwarded[@]}" $([ "$verify" -eq 0 ] || echo --verify)
fi

scripts/install-deps || { echo "installing packages failed" >&2; exit 1; }

# One date for everything the build stamps: the commit's, or the one a verifying run hands down.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
# No CCACHE_BASEDIR (scripts/test.sh exports it): ccache would hand the compiler relative paths,
# which -ffile-prefix-map does not map, and a cached build would differ from an uncached one in
# every __FILE__. The cache still serves rebuilds in the same folder.
unset CCACHE_BASEDIR CCACHE_NOHASHDIR

max_bytes=$((3 * 1024 * 1024))

build() {  # build PRESET
    local log=build/$1.log
    mkdir -p build
    echo "=== $1"
    # From an empty folder: an object left by a build with other settings (another cache setup,
    # another date) would otherwise be linked in unchanged. The compiler cache keeps this fast.
    rm -rf "build/$1"
    if ! { cmake --preset "$1" ${settings:+-C "$settings"} &&
           cmake --build --preset "$1" -j "$(nproc)"; } >"$log" 2>&1; then
        tail -n 40 "$log"
        fail "building $1 failed (all of its output in $log)"
    fi
}

check_dll() {  # check_dll TRIPLE DLL VERSION
    local triple=$1 dll=$2 version=$3 name
    name=$(basename "$dll")
    # Exactly the fifteen names, and only Windows system DLLs imported: the tests' own check.
    tests/e2e/check_export_table.sh tests/e2e/exports.txt "$triple-objdump" "$dll" >/dev/null ||
        fail "$name: wrong export table or a non-system import"

    python3 - "$dll" "$version" <<'PY' || fail "$name carries no version resource for $version"
import sys
data = open(sys.argv[1], "rb").read()
for key in ("FileVersion", "ProductVersion"):
    entry = (key + "\0").encode("utf-16-le")
    at = data.find(entry)
    # The value follows its key, aligned to 32 bits.
    value = (sys.argv[2] + "\0").encode("utf-16-le")
    if at < 0 or data.find(value, at + len(entry), at + len(entry) + 4 + len(value)) < 0:
        sys.exit(1)
PY

    local size
    size=$(stat -c %s "$dll")
    [ "$size" -le "$max_bytes" ] || fail "$name is $size bytes, more than $max_bytes"
}

# A zip whose bytes depend only on the files: sorted entries, one date, fixed permissions.
make_zip() {  # make_zip ARCHIVE FOLDER
    python3 - "$1" "$2" <<'PY'
import os, sys, time, zipfile
archive, folder = sys.argv[1], sys.argv[2]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
names = sorted(os.path.relpath(os.path.join(d, f), folder)
               for d, _, files in os.walk(folder) for f in files)
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in names:
        info = zipfile.ZipInfo(name.replace(os.sep, "/"), stamp)
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(folder, name), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
PY
}

build release-win64
build release-win32
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-win64/CMakeCache.txt)
[ -n "$version" ] || fail "no project version in build/release-win64/CMakeCache.txt"

rm -rf dist
stage=dist/.stage
debug=dist/.debug
mkdir -p "$stage/MQL5/Libraries" "$stage/MQL4/Libraries" "$stage/MQL5/Include" "$stage/MQL4/Include" \
         "$debug"
for target in "release-win64 x86_64-w64-mingw32 MQL5 MORVA_Orderbook64" \
              "release-win32 i686-w64-mingw32 MQL4 MORVA_Orderbook32"; do
    read -r preset triple mql name <<<"$target"
    built=build/$preset/bin/$name.dll
    shipped=$stage/$mql/Libraries/$name.dll
    "$triple-objcopy" --only-keep-debug "$built" "$debug/$name.dll.debug"
    "$triple-objcopy" --strip-all --add-gnu-debuglink="$debug/$name.dll.debug" "$built" "$shipped"
    check_dll "$triple" "$shipped" "$version"
    cp include/MorvaOrderbook.mqh "$stage/$mql/Include/"
done
sed "s/@VERSION@/$version/g; s/\$/\r/" packaging/INSTALL.txt >"$stage/INSTALL.txt"

package=MORVA_Orderbook-$version.zip
symbols=MORVA_Orderbook-$version-debug.zip
make_zip "dist/$package" "$stage"
make_zip "dist/$symbols" "$debug"
(cd dist && sha256sum "$package" "$symbols" >SHA256SUMS)

# The update tree: each metadata document with this version, and under each document's
# source.basePath the files the installer asks for by name.
if [ -n "$indicators" ]; then
    python3 - "$metadata" "$version" "$stage" "$indicators" dist/update <<'PY' || fail "no update tree"
import json, os, re, shutil, sys
metadata, version, stage, indicators, tree = sys.argv[1:]
documents = json.load(open(metadata, encoding="utf-8"))
compiled = sorted(f for f in os.listdir(indicators)
                  if re.fullmatch(r"MORVA_Order_Book_[A-Z]+\.ex[45]", f))
if not compiled:
    sys.exit(f"{indicators} holds no MORVA_Order_Book_<LANGUAGE>.ex4 or .ex5")
for path, members in documents.items():
    source = members.get("source", {})
    if (not re.fullmatch(r"[A-Za-z0-9/._-]+\.json", path) or ".." in path
            or not isinstance(members.get("minVersion"), str)
            or not isinstance(members.get("servers"), list)
            or not isinstance(source.get("hostname"), str)
            or not isinstance(source.get("port"), int)
            or not re.fullmatch(r"(/[A-Za-z0-9._-]+)+", source.get("basePath", ""))
            or ".." in source["basePath"]):
        sys.exit(f"{metadata}: {path} needs minVersion, servers and source "
                 "(hostname, port, basePath)")
    document = dict(members, version=version)
    os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
    with open(os.path.join(tree, path), "w", encoding="utf-8") as out:
        json.dump(document, out, indent=2, ensure_ascii=False, sort_keys=True)
        out.write("\n")
    files = os.path.join(tree, source["basePath"].lstrip("/"))
    os.makedirs(files, exist_ok=True)
    for mql, bits in (("MQL5", 64), ("MQL4", 32)):
        shutil.copyfile(os.path.join(stage, mql, "Libraries", f"MORVA_Orderbook{bits}.dll"),
                        os.path.join(files, f"MORVA_Orderbook{bits}_{version}.dll"))
    for name in compiled:
        stem, extension = os.path.splitext(name)
        shutil.copyfile(os.path.join(indicators, name),
                        os.path.join(files, f"{stem}_{version}{extension}"))
PY
fi

echo
echo "Release $version in dist/:"
for file in "$stage"/MQL5/Libraries/*.dll "$stage"/MQL4/Libraries/*.dll "dist/$package" "dist/$symbols" \
           $(find dist/update -type f 2>/dev/null | sort); do
    label=${file#dist/}
    printf '  %-48s %9s bytes  %s\n' "${label#.stage/}" "$(stat -c %s "$file")" \
        "$(sha256sum "$file" | cut -d' ' -f1)"
done
[ -n "$indicators" ] || echo "No update tree: --indicators DIR names the compiled indicators."

if [ "$verify" -eq 1 ]; then
    copy=$(mktemp -d /tmp/morva-release-verify.XXXXXX)
    trap 'rm -rf "$copy"' EXIT
    echo
    echo "=== verifying: the same sources in $copy, without the compiler cache"
    copy_sources "$copy"
    CCACHE_DISABLE=1 "$copy/scripts/release.sh" "${forwarded[@]}" >"$copy.log" 2>&1 ||
        { tail -n 40 "$copy.log"; fail "the verifying build failed (its output in $copy.log)"; }
    # The archives hold the libraries and their debug information: equal hashes, equal bytes.
    if ! cmp -s dist/SHA256SUMS "$copy/dist/SHA256SUMS" ||
        { [ -d dist/update ] && ! diff -r dist/update "$copy/dist/update" >&2; }; then
        diff dist/SHA256SUMS "$copy/dist/SHA256SUMS" >&2
        trap - EXIT  # kept, to find what differs
        fail "the two builds differ (the second is in $copy)"
    fi
    rm -f "$copy.log"
    echo "Both builds gave identical bytes."
fi
rm -rf "$stage" "$debug"
