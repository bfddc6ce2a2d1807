#!/usr/bin/env bash
# Installs and runs the packages that scripts/package made, as a user would: checks the Debian
# package with lintian, installs it with apt-get, checks what it put in place, starts the
# installed program from its desktop entry's command and checks its window and picture, runs the
# developer tools, then removes the package again; checks what the Linux archive holds; unpacks the Windows zip, checks the
# executable's icon and version resources and runs it from there under Wine with the smoke test's
# checks; checks what the web zip holds (the browser checks of tests/web run the page itself) and
# the VS Code extension's manifest;
# checks that each package carries the licence and the third-party notices. lintian and the other
# checkers come from scripts/install-dependencies: this script installs only the package itself.
#
# Usage (as root): scripts/with-display tests/packaging/packages.sh [PACKAGE_DIR]
#   PACKAGE_DIR defaults to build/packages.
# Prints one line per check, "PASS ID: DESCRIPTION" or "FAIL ID: DESCRIPTION", where ID names the
# check; the smoke test's checks of the zip's program have their ids prefixed with "zip.". Exits
# with 0 when every check passed, 1 when one failed, and 2 when it could not start.
set -uo pipefail
cd "$(dirname "$0")/../.."

source tests/application/checks.sh

packages=${1:-build/packages}
version=$(sed -nE 's/^project\(tavrin_mirellon VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
name=tavrin-mirellon
# Debian puts games in /usr/games, which a user's PATH holds (not root's): the desktop entry's
# command is looked up and started with the PATH of a user's session.
installed=/usr/games/$name
user_path=$(sed -nE 's/^ENV_PATH[[:space:]]+PATH=//p' /etc/login.defs)
desktop_entry=/usr/share/applications/$name.desktop
icons=/usr/share/icons/hicolor

# The one package of each kind; fails the check when there is none or more than one.
one_package() { # one_package PATTERN: sets `found`
    local matches=("$packages"/$1)
    found=""
    [[ ${#matches[@]} == 1 && -f "${matches[0]}" ]] && found=$(realpath "${matches[0]}")
}

if [[ $(id -u) -ne 0 ]]; then
    echo "FAIL: installing the Debian package needs root: run this as root"
    exit 2
fi
export DEBIAN_FRONTEND=noninteractive
# Other installations may hold dpkg's lock for a while: wait for it rather than fail.
apt_get() { apt-get -o DPkg::Lock::Timeout=300 -y -q "$@"; }

# --- The Debian package -------------------------------------------------------------------------
check deb.found "there is one Debian package in $packages" one_package "${name}_*.deb"
deb=$found
if [[ -n "$deb" ]]; then
    field() { dpkg-deb --field "$deb" "$1"; }
    check deb.name "the package is named $name, version $version" \
        test "$(field Package) $(field Version)" = "$name $version"
    depends=$(field Depends)
    check deb.depends "the package depends on SDL2 and GLEW (Depends: $depends)" \
        eval '[[ "$depends" == *libsdl2-2.0-* && "$depends" == *libglew* ]]'

    # Debian's own checks of the package. The maintainer has no address yet, so its field is
    # reported as malformed-contact; anything else that lintian calls an error or a warning fails.
    lintian_clean() {
        lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
        local found
        found=$(grep -E '^[EW]: ' "$work/lintian.txt" | grep -v ' malformed-contact ')
        [[ -z "$found" ]] || { echo "$found"; false; }
    }
    check deb.lintian "lintian reports no error and no warning but malformed-contact" lintian_clean

    # A package left from an earlier run would hide a failure to install this one.
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; then
        apt_get remove "$name" >/dev/null 2>&1
    fi
    check deb.install "apt-get installs the package and what it depends on" \
        eval 'apt_get install "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; false; }'
    check deb.program "the program is installed as $installed" test -x "$installed"
    check deb.player "the ROM player is installed beside it and answers --help" \
        eval '/usr/games/drovask-play --help | grep -q "^Usage: drovask-play ROM"'
    check deb.desktop_entry "the desktop entry $desktop_entry validates" \
        desktop-file-validate "$desktop_entry"
    command=$(sed -n 's/^Exec=//p' "$desktop_entry" 2>/dev/null)
    check deb.command "the desktop entry's command \"$command\" is the installed program" \
        test "$(PATH=$user_path command -v "$command")" = "$installed"
    png_icon() { # png_icon SIZE: whether the installed icon of that size is a SIZE x SIZE PNG
        test "$(identify -format '%m %wx%h' "$icons/$1x$1/apps/$name.png" 2>&1)" = "PNG $1x$1"
    }
    check deb.icon_64 "the icon $icons/64x64/apps/$name.png is a 64 x 64 PNG" png_icon 64
    check deb.icon_256 "the icon $icons/256x256/apps/$name.png is a 256 x 256 PNG" png_icon 256
    check deb.icon_svg "the icon $icons/scalable/apps/$name.svg is an SVG picture" \
        grep -q '<svg ' "$icons/scalable/apps/$name.svg"
    check deb.readme "the README is installed in /usr/share/doc/$name" \
        test -s "/usr/share/doc/$name/README.md"
    check deb.developer_tools \
        "the developer tools asm8080, dis8080, drovask-run, drovask-dap and cpm-run are in /usr/bin" \
        eval '[[ -x /usr/bin/asm8080 && -x /usr/bin/dis8080 && -x /usr/bin/drovask-run &&
                 -x /usr/bin/drovask-dap && -x /usr/bin/cpm-run ]]'
    check deb.tool_manuals "asm8080's and dis8080's manuals and man pages are installed" \
        eval '[[ -s /usr/share/doc/$name/asm8080.md && -s /usr/share/doc/$name/dis8080.md &&
                 -s /usr/share/man/man1/dis8080.1.gz && -s /usr/share/man/man1/asm8080.1.gz ]]'
    # A program assembled, disassembled and assembled again, then run, by the installed tools.
    tools_round_trip() {
        printf ' ORG 0\nloop: LXI SP,2400H\n DB 8\n JMP loop\n' >"$work/tools.asm" &&
            /usr/bin/asm8080 "$work/tools.asm" -o "$work/tools.bin" --size 8192 &&
            /usr/bin/dis8080 "$work/tools.bin" -o "$work/again.asm" &&
            /usr/bin/asm8080 "$work/again.asm" -o "$work/again.bin" --size 8192 &&
            cmp "$work/tools.bin" "$work/again.bin" &&
            /usr/bin/drovask-run "$work/again.bin" --frames 1 --break 0003H | grep -q '^stopped at'
    }
    check deb.tools_work \
        "the installed asm8080, dis8080 and drovask-run assemble, disassemble and run a program" \
        tools_round_trip

    # The built-in game's attract screen: the side walls and the ceiling are always drawn.
    window=""
    check deb.window "the installed program's window titled \"Tavrin Mirellon\" appears" \
        eval 'PATH=$user_path start "$command"'
    if [[ -n "$window" ]]; then
        check deb.window_place "the window is at (736, 284)" test \
            "$(geometry_value 'Absolute upper-left X'),$(geometry_value 'Absolute upper-left Y')" = "736,284"
        check deb.window_size "the window is 448 x 512" \
            test "$(geometry_value Width)x$(geometry_value Height)" = "448x512"
        window_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
        check deb.window_class \
            "the window's class is the desktop entry's \"$window_class\", so docks show its icon" \
            eval 'xprop -id "$window" WM_CLASS | grep -q "\"$window_class\"\$"'
        xdotool mousemove 5 5 # keep the drawn cursor away from the picture
        sleep 1
        screenshot
        check deb.walls_lit "the game's side walls and ceiling are lit" \
            eval 'lit 7 128 && lit 216 128 && lit 112 23'
        check deb.outside_dark "the picture is dark outside the walls" \
            eval 'dark 3 128 && dark 220 128 && dark 112 22'
        xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
        xdotool key Escape
        check deb.escape "Escape ends the installed program" wait_for_exit
        check deb.exit_code "the exit code after Escape is 0" test "${code:-none}" = 0
    fi

    check deb.remove "apt-get removes the package" \
        eval 'apt_get remove "$name" >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; false; }'
    check deb.removed \
        "the program, the ROM player, the developer tools and the desktop entry are gone" \
        eval '[[ ! -e "$installed" && ! -e /usr/games/drovask-play && ! -e /usr/bin/dis8080 &&
                 ! -e /usr/bin/drovask-run && ! -e "$desktop_entry" ]]'
fi

# --- The Linux archive --------------------------------------------------------------------------
check archive.found "there is one Linux archive in $packages" one_package "$name-*-linux-*.tar.gz"
if [[ -n "$found" ]]; then
    tar -tzvf "$found" >"$work/archive.txt"
    top=$(basename "$found" .tar.gz)
    archive_holds() { # archive_holds FILE...: each under the archive's top folder
        local file
        for file in "$@"; do
            grep -q " $top/$file\$" "$work/archive.txt" || { echo "missing: $top/$file"; return 1; }
        done
    }
    check archive.contents \
        "the archive holds the program, its desktop entry, icons and README under $top/" \
        archive_holds bin/$name bin/drovask-play share/applications/$name.desktop \
        share/icons/hicolor/{64x64,256x256}/apps/$name.png share/doc/$name/README.md
    check archive.executable "the archive's program is executable" \
        grep -q "^-rwx.* $top/bin/$name\$" "$work/archive.txt"
    check archive.developer_tools \
        "the archive holds the developer tools with their manuals under $top/" \
        archive_holds bin/{asm8080,dis8080,drovask-run,drovask-dap,cpm-run} \
        share/man/man1/{asm8080,dis8080,drovask-run,drovask-dap,cpm-run}.1 \
        share/man/man6/{$name,drovask-play}.6 share/doc/$name/{asm8080,dis8080}.md
fi

# --- The Windows zip ----------------------------------------------------------------------------
check zip.found "there is one Windows zip in $packages" one_package "$name-*-windows-*.zip"
zip=$found
windows_ok=1
if [[ -n "$zip" ]]; then
    mkdir -p "$work/zip"
    (cd "$work/zip" && cmake -E tar xf "$zip")
    folder="$work/zip/$(basename "$zip" .zip)"
    exe="$folder/$name.exe"
    check zip.contents "the zip holds $name.exe, drovask-play.exe and README.txt in one folder" \
        eval '[[ -f "$exe" && -f "$folder/drovask-play.exe" && -f "$folder/README.txt" ]]'
    check zip.readme "README.txt is the README with Windows line ends" \
        test "$(head -n 1 "$folder/README.txt")" = $'# Tavrin Mirellon\r'

    # Resource type 14 is an icon group, 16 the version information.
    wrestool -x --type=14 "$exe" >"$work/icon.ico" 2>/dev/null
    sizes=$(identify -format '%wx%h ' "$work/icon.ico" 2>/dev/null)
    check zip.icon "the executable carries the icon at 16, 32, 48 and 256 pixels (found: $sizes)" \
        eval '[[ " $sizes" == *" 16x16 "* && "$sizes" == *" 32x32 "* &&
                 "$sizes" == *" 48x48 "* && "$sizes" == *" 256x256 "* ]]'
    wrestool -x --raw --type=16 "$exe" 2>/dev/null | strings -el >"$work/version.txt"
    version_value() { # version_value NAME: the text that follows NAME in the version information
        grep -x -A1 "$1" "$work/version.txt" | tail -n 1
    }
    check zip.product "the executable's version information names the product \"Tavrin Mirellon\"" \
        test "$(version_value ProductName)" = "Tavrin Mirellon"
    check zip.version "the executable's version information gives the version $version" \
        test "$(version_value ProductVersion) $(version_value FileVersion)" = "$version $version"

    # The smoke test's checks of the program, run from the unpacked folder; its PASS and FAIL
    # lines are part of this test's output, their ids prefixed with "zip.".
    tests/windows-program/smoke.sh --program "$exe" | sed -u 's/^\(PASS\|FAIL\) /&zip./' ||
        windows_ok=0
fi

# --- The web zip --------------------------------------------------------------------------------
check web.found "there is one web zip in $packages" one_package "$name-*-web.zip"
web_zip=$found
if [[ -n "$web_zip" ]]; then
    mkdir -p "$work/web"
    (cd "$work/web" && cmake -E tar xf "$web_zip")
    site="$work/web/$(basename "$web_zip" .zip)"
    check web.contents "the web zip holds the page, its script and its WebAssembly in one folder" \
        eval '[[ -f "$site/index.html" && -f "$site/$name.js" && -f "$site/$name.wasm" ]]'
    check web.page "the page is titled \"Tavrin Mirellon\" and loads its script" \
        eval 'grep -q "<title>Tavrin Mirellon</title>" "$site/index.html" &&
              grep -q "src=\"$name.js\"" "$site/index.html"'
    check web.studio "the web zip holds the studio beside the page: its page, scripts and WebAssembly" \
        eval '[[ -f "$site/studio.html" && -f "$site/studio.js" && -f "$site/tavrin-studio.js" &&
                 -f "$site/tavrin-studio.wasm" ]]'
fi

# --- The VS Code extension ----------------------------------------------------------------------
check vsix.found "there is one VS Code extension in $packages" one_package "drovask-8080-*.vsix"
if [[ -n "$found" ]]; then
    mkdir -p "$work/vsix"
    (cd "$work/vsix" && cmake -E tar xf "$found")
    check vsix.licence "the .vsix carries the project's licence" \
        cmp LICENSE "$work/vsix/extension/LICENSE.txt"
    check vsix.manifest "the .vsix is a zip whose extension/package.json names the debugger type \
drovask with its launch snippet and the language asm8080, and which carries that grammar" \
        python3 -c 'import json, sys
folder = sys.argv[1]
with open(folder + "/package.json") as text:
    contributes = json.load(text)["contributes"]
debugger, grammar = contributes["debuggers"][0], contributes["grammars"][0]
assert debugger["type"] == "drovask", debugger["type"]
assert debugger["configurationSnippets"][0]["body"]["type"] == "drovask"
assert contributes["languages"][0]["id"] == grammar["language"] == "asm8080"
with open(folder + "/" + grammar["path"]) as text:
    assert json.load(text)["scopeName"] == grammar["scopeName"]' "$work/vsix/extension"
fi

# --- The licence and the third-party notices in every package ----------------------------------
# Each row: the package, its unpacked folder ("-" when the package is missing), its licence file
# and its notices file (in the Debian package both are the copyright file), the list's name for
# the package, and a piece that its notices must name whatever the list says ("-": none).
deb_root=- archive_root=- zip_root=- web_root=-
[[ -n "$deb" ]] && dpkg-deb -x "$deb" "$work/deb" && deb_root=$work/deb
[[ -n "${top:-}" ]] && mkdir -p "$work/archive" &&
    tar -xzf "$packages/$top.tar.gz" -C "$work/archive" && archive_root=$work/archive/$top
[[ -n "$zip" ]] && zip_root=$folder
[[ -n "$web_zip" ]] && web_root=$site
doc=share/doc/$name
licence_rows=(
    "deb     $deb_root     usr/$doc/copyright usr/$doc/copyright           linux   -"
    "archive $archive_root $doc/LICENSE       $doc/THIRD-PARTY-NOTICES.txt linux   -"
    "zip     $zip_root     LICENSE.txt        THIRD-PARTY-NOTICES.txt      windows GLEW"
    "web     $web_root     LICENSE.txt        THIRD-PARTY-NOTICES.txt      web     Emscripten"
)
# A text's words, whatever its line ends and indentation (a copyright file's " ." is an empty
# line), so that the licence matches in a DEP-5 copyright file and with CRLF line ends too.
words() { sed -e 's/\r$//' -e 's/^ \.$//' "$1" | tr -s ' \n\t' ' '; }
carries_notices() { # carries_notices ROOT LICENCE NOTICES LIST MUST
    local root=$1 piece permission
    [[ -s "$root/$2" && -s "$root/$3" ]] || { echo "missing: $root/$2 or $root/$3"; return 1; }
    permission=$(words LICENSE | sed 's/.*\(Permission is hereby\)/\1/')
    [[ "$(words "$root/$2")" == *"$permission"* ]] ||
        { echo "$2 does not hold the text of LICENSE"; return 1; }
    grep -qE '^Copyright( \(c\)|:) 2026 The Tavrin Mirellon developers' "$root/$2" ||
        { echo "$2 does not name the copyright holder"; return 1; }
    while read -r piece; do
        grep -qF "$piece" "$root/$3" || { echo "$3 does not name $piece"; return 1; }
    done < <(python3 packaging/notices.py names "$4"; [[ $5 == - ]] || echo "$5")
}
every_package_carries_notices() {
    local row id root licence notices list must ok=0
    for row in "${licence_rows[@]}"; do
        read -r id root licence notices list must <<<"$row"
        carries_notices "$root" "$licence" "$notices" "$list" "$must" 2>&1 | sed "s/^/$id: /"
        ((PIPESTATUS[0] == 0)) || ok=1
    done
    return $ok
}
check packages.licence \
    "each package carries the licence and the third-party notices of what it holds" \
    every_package_carries_notices

echo "$passes passed, $failures failed (and the Windows smoke test's checks above)"
((failures == 0 && windows_ok == 1))
