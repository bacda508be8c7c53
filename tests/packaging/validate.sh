#!/bin/sh
# Validates menu entries or AppStream metainfo with the freedesktop.org tools:
#
#   validate.sh desktop FILE...
#   validate.sh metainfo FILE...
#
# Exits 77 (the test counts as skipped) when the tool is not installed.
kind=$1
shift
case "$kind" in
    desktop) tool=desktop-file-validate ;;
    metainfo) tool=appstreamcli ;;
    *) echo "unknown kind $kind"; exit 2 ;;
esac
if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed: skipped"
    exit 77
fi
status=0
for file in "$@"; do
    if [ "$kind" = desktop ]; then
        # Errors fail the tool; warnings are treated as failures too.
        output=$(desktop-file-validate "$file" 2>&1) || status=1
        if printf '%s\n' "$output" | grep -q 'warning:'; then status=1; fi
    else
        output=$(appstreamcli validate --no-net "$file" 2>&1) || status=1
    fi
    printf '%s: %s\n' "$file" "${output:-valid}"
done
exit $status
