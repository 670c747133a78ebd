# Shared by the peer scripts (sourced, after `set -euo pipefail`): a scratch
# folder removed on exit with every server started through it, free loopback
# ports, timed enrollments and their checks, and the tally of rows.
#
# Rows are marked "now" (today's client must pass them) or "new" (only a
# client with the actionable reasons does). PEER_CLIENT=auto|new|old: with
# "old", failures of "new" rows are listed as expected and do not fail the
# run; auto picks "new" when the CMS toolkit holds those reasons.

tmp=$(mktemp -d)
pids=()
peer_cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap peer_cleanup EXIT
trap 'exit 130' INT TERM

# Loopback only; the client's settings under test come from the rows alone.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY \
  VESKAR_CMP_PROXY VESKAR_CMP_TRUST_FILE VESKAR_CMP_TLS_CA_FILE VESKAR_KMP_KEY_FILE

# peer_setup BUILD_DIR: sets $build, $veskar, $cms_dir, $kmp_dir, $client.
peer_setup() {
  build=$(cd "$1" && pwd)
  veskar=$build/tools/veskar/veskar
  cms_dir=$build/toolkits/lib/cmsapi32
  kmp_dir=$build/toolkits/lib/kmpapi32
  if [ ! -x "$veskar" ] || [ ! -f "$cms_dir/libcmsapi32.so" ]; then
    echo "no $veskar or toolkits in $build: build first" >&2
    exit 2
  fi
  command -v python3 >/dev/null || { echo "needs python3" >&2; exit 2; }
  client=${PEER_CLIENT:-auto}
  if [ "$client" = auto ]; then
    client=old
    if grep -qa "nothing listens at" "$cms_dir/libcmsapi32.so"; then client=new; fi
  fi
}

# Installs the Debian packages named when a command ($1 of each PAIR
# "command:package") is missing; only as root.
peer_need() {
  local need=() pair
  for pair in "$@"; do
    command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
  done
  [ ${#need[@]} -eq 0 ] && return
  [ "$(id -u)" -eq 0 ] || { echo "missing ${need[*]}: install them (apt-get)" >&2; exit 2; }
  apt-get install -y -q "${need[@]}" >/dev/null 2>&1 ||
    { bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/apt_update.sh" && apt-get install -y -q "${need[@]}" >/dev/null; }
}

# Test keys and roots in the folder $p: new_key NAME makes $p/NAME.key (EC
# P-256); new_root NAME SUBJECT_CN also $p/NAME.pem, a CA for 30 days.
new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$p/$1.key" 2>/dev/null; }
new_root() {
  new_key "$1"
  openssl req -x509 -new -key "$p/$1.key" -subj "/CN=$2" -days 30 -out "$p/$1.pem" \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_for FILE REGEX: until FILE has a line matching REGEX (5 s at most).
wait_for() {
  for _ in $(seq 100); do
    grep -qE "$2" "$1" 2>/dev/null && return
    sleep 0.05
  done
  echo "timed out waiting for /$2/ in $1:" >&2
  cat "$1" >&2
  exit 1
}

# timed OUT COMMAND...: runs COMMAND with its output in OUT; sets $rc and
# $took (seconds, one decimal).
timed() {
  local out=$1 start end
  shift
  start=$(date +%s.%N)
  rc=0
  "$@" >"$out" 2>&1 || rc=$?
  end=$(date +%s.%N)
  took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
}

# check_run OUT WANT PATTERN WITHIN CMS: what the last timed run got wrong,
# one line each, against WANT (ok, or the message number printed as
# "message N"), PATTERN (an extended regular expression the output of a
# failure must match, case blind; empty: any), WITHIN (the most seconds, or
# MIN-MAX) and the temporary folder $TMPDIR, which must be empty but for the
# one protected-data file a CMS success (CMS=yes) leaves.
check_run() {
  local out=$1 want=$2 pattern=$3 within=$4 cms=$5 seen least=0 most=$4 left
  seen=$(grep -oE 'message [0-9]+' "$out" | head -n1 | grep -oE '[0-9]+' || true)
  if [ "$want" = ok ]; then
    [ "$rc" -eq 0 ] || echo "wanted success, got exit $rc"
  elif [ "$rc" -eq 0 ]; then
    echo "wanted message $want, got success"
  else
    [ "$seen" = "$want" ] || echo "wanted message $want, got ${seen:-none}"
    [ -z "$pattern" ] || grep -qiE "$pattern" "$out" || echo "no reason matching /$pattern/"
  fi
  [[ $within == *-* ]] && least=${within%-*} most=${within#*-}
  awk -v t="$took" -v a="$least" -v b="$most" 'BEGIN { exit !(t < a || t > b) }' &&
    echo "took $took s, not within $least-$most s"
  left=$(cd "$TMPDIR" && find . -mindepth 1 | sed 's|^\./||')
  if [ "$cms" = yes ] && [ "$want" = ok ] && [ "$rc" -eq 0 ]; then
    left=$(grep -vE '^ENT[0-9A-Fa-f]+\.DER$' <<<"$left" || true)
    [ "$(cd "$TMPDIR" && find . -name 'ENT*.DER' | wc -l)" -eq 1 ] ||
      echo "no single protected-data file in the temporary folder"
  fi
  [ -z "$left" ] || echo "left in the temporary folder: $(tr '\n' ' ' <<<"$left")"
}

# One line of a file, blanks squeezed.
one_line() { tr '\n' ' ' <"$1" | sed 's/  */ /g; s/ $//'; }

passed=0 failed=0 expected=0
# tally NAME STAGE SUMMARY PROBLEMS DETAILS: prints the row's line; PROBLEMS
# empty means it passed, DETAILS follow a failure.
tally() {
  local name=$1 stage=$2 summary=$3 problems=$4 details=$5
  if [ -z "$problems" ]; then
    passed=$((passed + 1))
    echo "pass  $name ($summary)"
    return 0
  fi
  if [ "$stage" = new ] && [ "$client" = old ]; then
    expected=$((expected + 1))
    echo "xfail $name (expected, fails before the client change)"
  else
    failed=$((failed + 1))
    echo "FAIL  $name ($summary)"
  fi
  printf '%s\n%s\n' "$problems" "$details" | sed '/^$/d; s/^/        /'
}

# The last line; the exit status says whether every row passed.
summary() {
  echo "$1: $passed passed, $failed failed, $expected expected to fail before the client change (client: $client)"
  [ "$failed" -eq 0 ]
}
