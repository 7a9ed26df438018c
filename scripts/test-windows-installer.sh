#!/usr/bin/env bash
# The installer round under Wine: orvane-VERSION-setup.exe /S installs into Program Files with
# the Start-menu entry and the Apps & features entry (version and publisher), the program
# starts from there, and the uninstaller (/S) takes all of it away again. One Wine session, so
# the round sees its own changes. Usage (root): bash scripts/test-windows-installer.sh SETUP.exe
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
setup=$(realpath "$1")
version=$(basename "$setup" | sed -n 's/^orvane-\(.*\)-setup\.exe$/\1/p')
work="$(mktemp -d /tmp/orvane-windows-installer-XXXXXX)"
trap 'rm -rf "$work"' EXIT
cp "$setup" "$work/setup.exe"
# An uninstaller run with _?= works in place and is waited for (without, it copies itself
# away and returns at once).
cat > "$work/round.bat" <<'BAT'
@echo off
set dir=C:\Program Files\Orvane
set key=HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane
set menu=C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Orvane.lnk
setup.exe /S
echo setup=%errorlevel%
"%dir%\orvane.exe" --version
reg query "%key%" /v DisplayVersion
reg query "%key%" /v Publisher
if exist "%menu%" echo menu=yes
"%dir%\uninstall.exe" /S _?=%dir%
echo uninstall=%errorlevel%
if exist "%dir%\orvane.exe" echo left=orvane.exe
if exist "%menu%" echo left=menu
reg query "%key%" >nul 2>&1
if errorlevel 1 echo gone=key
exit /b 0
BAT
sed -i 's/$/\r/' "$work/round.bat"
out=$(cd "$work" && timeout 300 bash "$root/scripts/wine-run.sh" cmd /c round.bat 2>&1 | tr -d '\r')
expect() { grep -qE "$1" <<< "$out" || { echo "installer round: no '$1' in:" >&2; echo "$out" >&2; exit 1; }; }
expect '^setup=0$'
expect "^Orvane_V$version\$"
expect "DisplayVersion +REG_SZ +$version\$"
expect 'Publisher +REG_SZ +Orvane$'
expect '^menu=yes$'
expect '^uninstall=0$'
expect '^gone=key$'
! grep -q '^left=' <<< "$out" || { echo "installer round: the uninstaller left: $out" >&2; exit 1; }
echo "windows_installer version=$version"
