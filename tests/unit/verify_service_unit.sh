#!/bin/sh
# The package's units as systemd reads them: `systemd-analyze verify`
# passes for tessel-serve.service, the helpers' sockets and their template
# services (with the build's tessel-cli and tessel-net in their command
# lines, as the installed ones are not here), and the exposure
# `systemd-analyze security --offline=true` gives each is printed and kept
# at or below its limit: 2.0 for the service, which holds no capability,
# 3.0 for a helper, which holds its role's. Skipped without systemd-analyze.
#   verify_service_unit.sh PACKAGING_DIR TESSEL_CLI TESSEL_NET
set -e
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
for unit in tessel-serve.service tessel-net-table.socket tessel-net-table@.service tessel-net-check.socket \
            tessel-net-check@.service; do
    sed "s#/usr/bin/tessel-cli#$2#; s#/usr/libexec/tessel/tessel-net#$3#" "$1/$unit" > "$folder/$unit"
done
cd "$folder"
systemd-analyze verify --man=no tessel-serve.service tessel-net-table.socket tessel-net-check.socket \
    tessel-net-table@.service tessel-net-check@.service
failed=0
for check in tessel-serve.service:2.0 tessel-net-table@.service:3.0 tessel-net-check@.service:3.0; do
    unit=${check%:*} limit=${check#*:}
    line=$(systemd-analyze security --offline=true "$unit" | grep "Overall exposure")
    echo "$line"
    exposure=$(echo "$line" | sed 's/.*: \([0-9.]*\) .*/\1/')
    awk -v e="$exposure" -v l="$limit" 'BEGIN { exit !(e != "" && e <= l) }' ||
        { echo "$unit: exposure $exposure above $limit"; failed=1; }
done
exit $failed
