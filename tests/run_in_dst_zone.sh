#!/bin/sh
# Runs a test command in a time zone whose daylight saving time is in force today: Sydney's from
# October to April, New York's from March to November, so one of them always is. The zone's
# distance from UTC, as the system's own date command gives it, goes to the test in
# SNTP_EXPECTED_ZONE_MINUTES.
# Usage: run_in_dst_zone.sh COMMAND [ARGUMENT...]
set -eu
for zone in Australia/Sydney America/New_York; do
  case $(TZ=$zone date +%Z) in
    AEDT|EDT) break ;;
  esac
  zone=
done
[ -n "$zone" ] || { echo "FAIL: neither zone keeps daylight saving time today"; exit 1; }
distance=$(TZ=$zone date +%z)  # +HHMM or -HHMM
sign=${distance%????}
hours=${distance#?}; hours=${hours%??}
minutes=${distance#???}
total=$(( ${hours#0} * 60 + ${minutes#0} ))
[ "$sign" = - ] && total=$(( -total ))
echo "zone $zone ($(TZ=$zone date +%Z), $total minutes from UTC)"
TZ=$zone SNTP_EXPECTED_ZONE_MINUTES=$total exec "$@"
