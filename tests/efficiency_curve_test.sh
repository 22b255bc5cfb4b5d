#!/bin/sh
# efficiency_curve_test.sh TOOLS_DIR VELMORA VELMORAUNI
# The sweep must report exactly what the programs print, and refuse bad
# arguments with status 2.
set -u
curve=$1/efficiency-curve
passed=0 failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

expect() { # what got want
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
  fi
}

# Guards against a sweep that parses, rounds or labels the results wrongly.
for program in "$2:cos_squared" "$3:isotropic"; do
  path=${program%:*} law=${program##*:}
  csv=$("$curve" "$path" 3,40 5000)
  expect "header" "$(echo "$csv" | head -n 1)" \
    "law,distance_cm,muons,coincidences,efficiency,std_error"
  for d in 3 40; do
    printed=$(printf '%s\n5000\n' "$d" | "$path" | awk '
      /coicidences/ { k = $NF } /Efficiency/ { e = $NF }
      END { print k "," e }')
    row=$(echo "$csv" | grep "^$law,$d,5000,")
    from_csv=$(echo "$row" | awk -F, '{ printf "%s,%.3f", $4, $5 }')
    expect "$law at $d cm" "$from_csv" "$printed"
  done
done
expect "range" "$("$curve" "$2" 0:10:2.5 10 | cut -d, -f2 | tr '\n' ' ')" \
  "distance_cm 0 2.5 5 7.5 10 "

# Bad arguments: status 2 and a usage message, nothing on standard output.
refused() {
  out=$("$curve" "$@" 2>"$scratch/err")
  status=$?
  grep -q '^usage:' "$scratch/err" || status="$status, no usage"
  expect "refuses $*" "$status$out" 2
}
refused
refused "$2" 5
refused "$2" 5 10 extra
refused /nonexistent/velmora 5 10
refused /bin/sh 5 10
refused "$2" "" 10
refused "$2" 5,,10 10
refused "$2" 5,far 10
refused "$2" 0:10 10
refused "$2" 0:10:0 10
refused "$2" 10:0:1 10
refused "$2" 5 0
refused "$2" 5 -10
refused "$2" 5 ten
refused "$2" 5 2147483648

# A failing run stops the sweep with its own message and status.
fake=$scratch/bin
mkdir "$fake"
printf '#!/bin/sh\necho "velmora: broken" >&2\nexit 1\n' >"$fake/velmora"
chmod +x "$fake/velmora"
err=$("$curve" "$fake/velmora" 1,2 10 2>&1 >/dev/null)
expect "failing run" "$?:$(echo "$err" | head -n 1)" "1:velmora: broken"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
