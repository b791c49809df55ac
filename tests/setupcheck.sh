#!/bin/sh
# Checks that scripts/setup goes on past package lists a mirror could not
# serve and fails, with the line to run by hand, only when the install
# fails. Stand-ins for apt-get, dpkg-query, id and cmake come first on PATH:
# libstb-dev is reported missing, and nothing is installed or built.
# Usage: setupcheck.sh
set -u
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'STAND'
#!/bin/sh
echo "apt-get $*" >>"$STANDINLOG"
case " $* " in
*" update "*) exit "$UPDATESTATUS" ;;
*" install "*) exit "$INSTALLSTATUS" ;;
esac
STAND
cat >"$work/bin/dpkg-query" <<'STAND'
#!/bin/sh
for last; do :; done
[ "$last" = libstb-dev ] && echo not-installed || echo installed
STAND
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/cmake"
chmod +x "$work/bin"/*

failed=0
# update install | status, a line setup must print
while IFS='|' read -r update install status line; do
    [ -n "$update" ] || continue
    : >"$work/calls"
    out=$(STANDINLOG=$work/calls UPDATESTATUS=$update INSTALLSTATUS=$install \
        PATH="$work/bin:$PATH" "$source/scripts/setup" run 2>&1 </dev/null)
    got=$?
    if [ "$got" -ne "$status" ] || ! printf '%s\n' "$out" | grep -qF "$line" ||
        ! grep -q 'install .*libstb-dev' "$work/calls"; then
        echo "update $update, install $install: status $got, not $status," \
            "or no line \"$line\", or no install of libstb-dev:"
        printf '%s\n' "$out"
        failed=1
    fi
done <<'TABLE'
0|0|0|Installing: libstb-dev
100|0|0|setup: the package lists could not all be refreshed
100|100|1|apt-get install -y --no-install-recommends libstb-dev
0|100|1|setup: these packages could not be installed: libstb-dev
TABLE
exit "$failed"
