#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian, the unit, every file it promises, and one run
# of the installed program as the unit starts it, from a throwaway root in a private network
# namespace. As root; expects install-deps.sh done.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh | tail -n 1)
root=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
fail() {
    echo "test-package: $*" >&2
    exit 1
}

lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb" \
    2> >(grep -v '^running with root' >&2)

expected="./etc/default/orvane
./etc/fonts/conf.d/65-orvane-simsun.conf
./usr/bin/orvane
./usr/bin/orvane-devsim
./usr/bin/orvane-mkfw
./usr/lib/systemd/system/orvane.service
./usr/lib/sysusers.d/orvane.conf
./usr/libexec/orvane/orvane-desktop
./usr/libexec/orvane/orvane-program
./usr/share/applications/orvane.desktop
./usr/share/doc/orvane/README.md
./usr/share/doc/orvane/changelog.gz
./usr/share/doc/orvane/copyright
./usr/share/doc/orvane/docs/building.md
./usr/share/doc/orvane/docs/cloud.md
./usr/share/doc/orvane/docs/departures.md
./usr/share/doc/orvane/docs/design.md
./usr/share/doc/orvane/docs/operation.md
./usr/share/doc/orvane/docs/sites.md
./usr/share/doc/orvane/docs/tftp.md
./usr/share/doc/orvane/docs/web.md
./usr/share/doc/orvane/docs/windows.md
./usr/share/doc/orvane/docs/web.png
./usr/share/doc/orvane/docs/window-en.png
./usr/share/doc/orvane/docs/window-win-en.png
./usr/share/doc/orvane/docs/window-win-zh.png
./usr/share/doc/orvane/docs/window-zh.png
./usr/share/fontconfig/conf.avail/65-orvane-simsun.conf
./usr/share/icons/hicolor/32x32/apps/orvane.png
./usr/share/icons/hicolor/64x64/apps/orvane.png
./usr/share/lintian/overrides/orvane
./usr/share/man/man1/orvane-devsim.1.gz
./usr/share/man/man1/orvane-mkfw.1.gz
./usr/share/man/man1/orvane.1.gz"
files=$(dpkg --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$(sort <<<"$expected")" ] || fail "files differ:"$'\n'"$(diff <(echo "$files") <(sort <<<"$expected"))"

dpkg -x "$deb" "$root"
unit="$root/usr/lib/systemd/system/orvane.service"
sed "s|/usr/bin/orvane|$root/usr/bin/orvane|" "$unit" >"$root/orvane.service"
MANPATH="$root/usr/share/man" systemd-analyze verify "$root/orvane.service"
systemd-analyze security --offline=yes "$root/orvane.service" | tail -n 1

# The unit's command line with /etc/default/orvane, its paths moved into the throwaway root:
# ${NAME} is one argument, even when empty; $NAME is split into words (none when unset, as
# ORVANE_HTTP is while the default file has it commented out).
set -a
# shellcheck disable=SC1091
. "$root/etc/default/orvane"
set +a
ORVANE_IP=127.0.0.1
ORVANE_OPTIONS="--no-force --show-all"
args=()
read -ra words <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
for w in "${words[@]}"; do
    case "$w" in
        '${'*'}') v=${w:2:-1} && args+=("${!v-}") ;;
        '$'*) v=${w:1} && read -ra split <<<"${!v-}" && args+=("${split[@]}") ;;
        *) args+=("$w") ;;
    esac
done
for i in "${!args[@]}"; do
    [[ ${args[$i]} == /* ]] && args[$i]="$root${args[$i]}"
done
state="$root$(sed -n 's/^WorkingDirectory=//p' "$unit")"
# The unit's own environment (the runtime folder of the single-instance lock), moved likewise.
while IFS= read -r setting; do
    value="$root${setting#*=}"
    mkdir -p "$value"
    export "${setting%%=*}=$value"
done < <(sed -n 's/^Environment=//p' "$unit")
config="$root/etc/orvane/Config.ini"
mkdir -p "$state/Firmware" "$root/etc/orvane"
printf '[CNFINFO]\nPath=%s\nLogSwitch=1\n' "$state/Firmware" >"$config"

mkfifo "$root/stdout"
(cd "$state" && exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' sh "${args[@]}") \
    >"$root/stdout" 2>"$root/stderr" &
pid=$!
exec 3<"$root/stdout"
read -r -t 20 -u 3 line || fail "no ready line: $(cat "$root/stderr")"
[ "$line" = $'ready\t127.0.0.1\t00:00:00:00:00:00' ] || fail "ready line: $line"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
[ -s "$state/Upgrade.log" ] || fail "no Upgrade.log in $state"
grep -qxF "Path=$state/Firmware" "$config" || fail "Config.ini not saved: $(cat "$config")"
grep -qxF "ShowAllDev=1" "$config" && grep -qxF "ForcedUpgradeVerison=0" "$config" ||
    fail "box options not applied: $(cat "$config")"
[ ! -e "$root/usr/bin/Config.ini" ] || fail "Config.ini written beside the program"
echo "test-package: $(basename "$deb") $(stat -c %s "$deb") bytes; 1 passed, 0 failed"
