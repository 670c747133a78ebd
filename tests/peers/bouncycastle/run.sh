#!/usr/bin/env bash
# Enrollment across an independent CMP implementation (Bouncy Castle on OpenJDK):
#   - its CA (PeerCa.java) in the two habits of CAs in the field, "pbm" and
#     "signed", with both stand-in toolkits through `veskar enroll`;
#   - its client (PeerClient.java) at `veskar ca serve` with p10cr and ir.
# Each scenario prints one line; any failure fails the script.
#
# Usage: run.sh [BUILD_DIR]   (the native build folder, default build/)
# PEER_TRUST_SETTING=auto|yes|no says whether the client under test reads
# VESKAR_CMP_TRUST_FILE (trust anchors for signed answers); auto looks for the
# name in the stand-in toolkits. Without it, the enrollments that need it are
# skipped and the refusals are checked without their reason.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
veskar=$build/tools/veskar/veskar
[ -x "$veskar" ] || { echo "no $veskar: build first" >&2; exit 2; }

# Bouncy Castle 1.72 and a JDK from Debian; bcutil comes with bcpkix.
jars=/usr/share/java/bcprov.jar:/usr/share/java/bcpkix.jar:/usr/share/java/bcutil.jar
need=()
[ -f /usr/share/java/bcpkix.jar ] && [ -f /usr/share/java/bcutil.jar ] || need+=(libbcpkix-java libbcprov-java)
command -v javac >/dev/null || need+=(openjdk-17-jdk-headless)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "missing ${need[*]}: install them (apt-get)" >&2; exit 2; }
  apt-get install -y -q "${need[@]}" >/dev/null 2>&1 ||
    { bash "$(dirname "$0")/../../scripts/apt_update.sh" && apt-get install -y -q "${need[@]}" >/dev/null; }
fi

# The scratch folder $tmp and $pids, stopped and removed on exit, and a
# loopback-only environment.
. "$here/../lib.sh"
export TMPDIR=$tmp/t VESKAR_CMP_MSG_TIMEOUT=10 VESKAR_CMP_TOTAL_TIMEOUT=20
mkdir -p "$TMPDIR" "$tmp/classes" "$tmp/w"

javac -Xlint:all,-path -Werror -cp "$jars" -d "$tmp/classes" "$here"/*.java
java=(java -cp "$tmp/classes:$jars")

trust_setting=${PEER_TRUST_SETTING:-auto}
if [ "$trust_setting" = auto ]; then
  trust_setting=no
  grep -qa VESKAR_CMP_TRUST_FILE "$build"/toolkits/lib/*/lib*.so 2>/dev/null && trust_setting=yes
fi

# Waits for the URL a server prints on its standard output ($1).
url_of() {
  for _ in $(seq 150); do
    if grep -qo 'http://[^ ]*' "$1"; then
      grep -o 'http://[^ ]*' "$1" | head -n1
      return
    fi
    sleep 0.1
  done
  echo "no URL in $1:" >&2
  cat "$1" "${1%.out}.err" >&2
  return 1
}

# Starts the peer CA in mode $1 with the users file $2; sets $ca_url, $ca_cert.
start_peer_ca() {
  ca_cert=$tmp/peer-$1.pem
  "${java[@]}" PeerCa --mode "$1" --users "$2" --ca-cert-out "$ca_cert" \
    >"$tmp/peer-$1.out" 2>"$tmp/peer-$1.err" &
  pids+=($!)
  server_log=$tmp/peer-$1.err
  ca_url=$(url_of "$tmp/peer-$1.out")
}

code_file() {
  printf '%s\n' "$1" >"$tmp/w/code.$2"
  echo "$tmp/w/code.$2"
}

# The toolkits through the command: URL REFERENCE CODE CA_PEM [COMMON_NAME];
# on success the certificate must verify against CA_PEM, the peer's own.
enroll_cms() {
  local cert=$tmp/w/cms-$2.pem
  rm -f "$tmp/w/cms-$2.key"
  "$veskar" enroll cms --ca "$1" --reference "$2" --code-file "$(code_file "$3" "$2")" \
    --new-key "$tmp/w/cms-$2.key" --common-name "${5:-Veskar User}" --cert "$cert" &&
    openssl verify -CAfile "$4" "$cert"
}
enroll_ipsec() {
  local cert=$tmp/w/ipsec-$2.pem
  rm -f "$tmp/w/ipsec-$2.profile"
  echo 'profile password' >"$tmp/w/password"
  "$veskar" enroll ipsec --profile "$tmp/w/ipsec-$2.profile" --ca "$1" --reference "$2" \
    --code-file "$(code_file "$3" "$2")" --password-file "$tmp/w/password" --cert "$cert" &&
    openssl verify -CAfile "$4" "$cert"
}
# The peer client: URL CMD REFERENCE CODE CA_PEM [ITERATIONS [MAC]], as OpenSSL
# protects by default: 500 iterations of SHA-256, HMAC-SHA1.
peer_enroll() {
  local cert=$tmp/w/peer-$3-$2.pem
  "${java[@]}" PeerClient --url "$1" --cmd "$2" --ref "$3" --secret-file "$(code_file "$4" "$3")" \
    --trust "$5" --cert-out "$cert" --iterations "${6:-500}" --mac "${7:-hmac-sha1}" &&
    openssl verify -CAfile "$5" "$cert"
}
with_trust() {
  VESKAR_CMP_TRUST_FILE=$1 "${@:2}"
}

passed=0 failed=0 skipped=0
# scenario NAME ok|refused PATTERN COMMAND...: "ok" wants exit 0; "refused"
# a failure whose output matches the extended regular expression PATTERN
# (case-insensitive; empty: any reason).
scenario() {
  local name=$1 expect=$2 pattern=$3 rc=0
  shift 3
  local log=$tmp/w/log.$((passed + failed + skipped))
  "$@" >"$log" 2>&1 || rc=$?
  if { [ "$expect" = ok ] && [ $rc -eq 0 ]; } ||
    { [ "$expect" = refused ] && [ $rc -ne 0 ] && { [ -z "$pattern" ] || grep -qiE "$pattern" "$log"; }; }; then
    passed=$((passed + 1))
    echo "pass  $name"
    [ "$expect" = ok ] || echo "        saw: $(grep -v '^ *$' "$log" | tail -n1 | sed 's/^ *//')"
  else
    failed=$((failed + 1))
    echo "FAIL  $name (exit $rc)"
    sed 's/^/        /' "$log"
    echo "        the server's last lines:"
    tail -n 6 "$server_log" | sed 's/^/        /'
  fi
}
skip() {
  skipped=$((skipped + 1))
  echo "skip  $1"
}

echo "== the peer CA, habit \"pbm\": secret by sender key identifier, 1024 iterations, HMAC-SHA1 only, at most 2047 =="
printf '%s\n' '1001 P1001-CODE CN=Pbm Cms User' '1002 P1002-CODE CN=Pbm IPSec User' \
  '1003 P1003-CODE CN=Pbm Peer User' >"$tmp/pbm-users"
start_peer_ca pbm "$tmp/pbm-users"
scenario "pbm: the CMS toolkit enrolls (p10cr)" ok "" enroll_cms "$ca_url" 1001 P1001-CODE "$ca_cert"
scenario "pbm: the IPSec toolkit enrolls (ir)" ok "" enroll_ipsec "$ca_url" 1002 P1002-CODE "$ca_cert"
scenario "pbm: a wrong code is refused with the CA's reason" refused "MAC does not verify" \
  enroll_cms "$ca_url" 1003 WRONG-CODE "$ca_cert"
skip "pbm: a toolkit with more than 2047 iterations (the client has no iteration setting)"
scenario "pbm: the peer client with 4096 iterations is refused, saying why" refused \
  "iteration count 4096 is above the limit of 2047" peer_enroll "$ca_url" ir 1003 P1003-CODE "$ca_cert" 4096
scenario "pbm: the peer client with HMAC-SHA256 is refused, saying why" refused \
  "only HMAC-SHA1" peer_enroll "$ca_url" p10cr 1003 P1003-CODE "$ca_cert" 500 hmac-sha256

echo "== the peer CA, habit \"signed\": user by subject name, answers signed by the CA key =="
# The CMS toolkit's request names --common-name; the IPSec toolkit's ir names CN=<reference number>.
printf '%s\n' '2001 S2001-CODE CN=Signed Cms User' '2002 S2002-CODE CN=2002' \
  '2003 S2003-CODE CN=Peer Client' >"$tmp/signed-users"
start_peer_ca signed "$tmp/signed-users"
echo "(the client reads VESKAR_CMP_TRUST_FILE: $trust_setting)"
signed_reason=""
[ "$trust_setting" = yes ] && signed_reason="\\b(signature|signed|signer|trust|trusted)\\b"
scenario "signed: the peer client, trusting the CA key, enrolls (ir)" ok "" \
  peer_enroll "$ca_url" ir 2003 S2003-CODE "$ca_cert"
scenario "signed: the CMS toolkit without a trust anchor is refused" refused "$signed_reason" \
  enroll_cms "$ca_url" 2001 S2001-CODE "$ca_cert" "Signed Cms User"
scenario "signed: the IPSec toolkit without a trust anchor is refused" refused "$signed_reason" \
  enroll_ipsec "$ca_url" 2002 S2002-CODE "$ca_cert"
if [ "$trust_setting" = yes ]; then
  scenario "signed: the CMS toolkit trusting the CA certificate enrolls" ok "" \
    with_trust "$ca_cert" enroll_cms "$ca_url" 2001 S2001-CODE "$ca_cert" "Signed Cms User"
  scenario "signed: the IPSec toolkit trusting the CA certificate enrolls" ok "" \
    with_trust "$ca_cert" enroll_ipsec "$ca_url" 2002 S2002-CODE "$ca_cert"
else
  skip "signed: both toolkits trusting the CA certificate enroll (no VESKAR_CMP_TRUST_FILE yet)"
fi

echo "== the peer client at veskar ca serve =="
"$veskar" ca init "$tmp/ca" >/dev/null
"$veskar" ca serve "$tmp/ca" --listen 127.0.0.1:0 >"$tmp/serve.out" 2>"$tmp/serve.err" &
pids+=($!)
server_log=$tmp/serve.err
serve_url=$(url_of "$tmp/serve.out")
for cmd in p10cr ir; do
  added=$("$veskar" ca add-user "$tmp/ca" "CN=Peer $cmd User")
  ref=$(awk '/reference number/ { print $NF }' <<<"$added")
  code=$(awk '/authorisation code/ { print $NF }' <<<"$added")
  scenario "veskar ca serve: the peer client enrolls with $cmd" ok "" \
    peer_enroll "$serve_url" "$cmd" "$ref" "$code" "$tmp/ca/ca.pem"
done

echo "peers: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
