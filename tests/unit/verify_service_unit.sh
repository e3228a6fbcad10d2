#!/bin/sh
# tessel-serve.service as systemd reads it: `systemd-analyze verify` passes
# (with the build's tessel-cli in ExecStart, as the installed one is not
# here), and the exposure `systemd-analyze security --offline=true` gives
# it is printed and stays at or below 2.0. Skipped without systemd-analyze.
#   verify_service_unit.sh UNIT TESSEL_CLI
set -e
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
sed "s#/usr/bin/tessel-cli#$2#" "$1" > "$folder/tessel-serve.service"
systemd-analyze verify --man=no "$folder/tessel-serve.service"
line=$(systemd-analyze security --offline=true "$folder/tessel-serve.service" | grep "Overall exposure")
echo "$line"
exposure=$(echo "$line" | sed 's/.*: \([0-9.]*\) .*/\1/')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || { echo "exposure $exposure above 2.0"; exit 1; }
