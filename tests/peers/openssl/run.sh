#!/usr/bin/env bash
# What an unchanged host sees when it enrolls at OpenSSL's mock CMP server
# (`openssl cmp -port`) in each of its modes, and at servers that are not CMP
# servers at all. Each row enrolls twice, each time at a fresh server:
#   - CMS: the example host (examples/enroll_host, built here against the
#     build tree) through the library's CMS agent, showing the message
#     number and the extended error as any host reads them;
#   - IPSec: `veskar enroll ipsec`, which prints the toolkit's reason;
# and checks the message number, the reason, the time taken, and that the
# temporary folder (TMPDIR) holds nothing afterwards but the protected-data
# file of a CMS success. One line per row; any failure fails the script.
#
# Usage: run.sh [BUILD_DIR]   (the native build folder, default build/)
# PEER_CLIENT=auto|new|old: see ../lib.sh.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
. "$here/../lib.sh"
peer_setup "${1:-build}"
export VESKAR_CMP_MSG_TIMEOUT=5 VESKAR_CMP_TOTAL_TIMEOUT=20
mkdir -p "$tmp/pki" "$tmp/w"

# The host, built as a host project builds it, against this build.
host=$tmp/enroll_host
c++ -std=c++17 -I"$source_dir/include" -I"$build/generated/include" \
  "$source_dir/examples/enroll_host/enroll_host.cpp" -o "$host" \
  -L"$build" -lveskar -Wl,-rpath,"$build"

# Test PKI: the CA and its user, a certificate for another key, one from
# another CA, and the server's own signing certificate.
p=$tmp/pki
issue() { # NAME KEY CA SUBJECT
  openssl req -new -key "$p/$2.key" -subj "/CN=$4" |
    openssl x509 -req -CA "$p/$3.pem" -CAkey "$p/$3.key" -days 30 -out "$p/$1.pem" 2>/dev/null
}
new_root ca "Peer Mock CA"
new_root other-ca "Another CA"
new_key user
new_key other
new_key srv
issue user user ca "Mock User"
issue other other ca "Someone Else"
issue foreign user other-ca "Mock User"
issue srv srv ca "Mock CMP Server"
openssl req -new -key "$p/user.key" -subj "/CN=Mock User" -outform DER -out "$p/request.der"
secret=mock-secret-7
printf '%s\n' "$secret" >"$tmp/w/code"
printf '%s\n' wrong-secret >"$tmp/w/wrong-code"
echo 'profile password' >"$tmp/w/password"

# Server specs: "mock OPTION...", "http silent|html|STATUS", "closed" (a
# port nobody listens on) or "unknown" (a name no resolver knows).
# Starts it; sets $url and $server_log.
server_pid=""
start_server() {
  local kind=$1 port
  shift
  server_log=$tmp/w/server.log
  : >"$server_log"
  case $kind in
    mock)
      port=$(free_port)
      openssl cmp -port "$port" "$@" >"$server_log" 2>&1 &
      server_pid=$!
      url=http://127.0.0.1:$port/pkix/
      wait_for "$server_log" '^ACCEPT'
      ;;
    http)
      python3 "$here/not_cmp_server.py" "$1" >"$tmp/w/http.out" 2>"$server_log" &
      server_pid=$!
      wait_for "$tmp/w/http.out" '^http://'
      url=$(head -n1 "$tmp/w/http.out")
      ;;
    closed) url=http://127.0.0.1:$(free_port)/pkix/ ;;
    unknown) url=http://veskar-peer.invalid/pkix/ ;;
  esac
  [ -z "$server_pid" ] || pids+=("$server_pid")
}
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# The mock's usual answer: the user's certificate with the CA's, under the
# shared secret; a row's options come after these. The signing server does
# not check the request's MAC (it has no secret), and signs its answers.
mock=(mock -srv_ref 4711 -srv_secret "pass:$secret" -rsp_cert "$p/user.pem"
  -rsp_capubs "$p/ca.pem" -rsp_extracerts "$p/ca.pem")
signed=(mock -srv_cert "$p/srv.pem" -srv_key "$p/srv.key" -accept_unprotected
  -rsp_cert "$p/user.pem" -rsp_capubs "$p/ca.pem" -rsp_extracerts "$p/ca.pem")

# Enrolls through AGENT (cms or ipsec) at $url with the code in CODE_FILE.
enroll() {
  rm -rf "$tmp/w/dir" "$tmp/w/profile" "$TMPDIR"
  mkdir -p "$tmp/w/dir" "$TMPDIR"
  if [ "$1" = cms ]; then
    timed "$tmp/w/out" env LD_LIBRARY_PATH="$cms_dir:$kmp_dir" "$host" "$url" "$tmp/w/dir" 4711 \
      "$2" "$p/request.der" "$tmp/w/cert.der" "$tmp/w/ca.der"
    [ "$rc" -ne 0 ] || openssl verify -CAfile "$p/ca.pem" \
      <(openssl x509 -inform der -in "$tmp/w/cert.der") >/dev/null 2>&1 ||
      { rc=99 && echo "the certificate does not verify against the CA" >>"$tmp/w/out"; }
  else
    # The mock certifies one key: the toolkit is given that one.
    timed "$tmp/w/out" env VESKAR_KMP_KEY_FILE="$p/user.key" "$veskar" enroll ipsec \
      --profile "$tmp/w/profile" --ca "$url" --reference 4711 --code-file "$2" \
      --password-file "$tmp/w/password"
  fi
}

# For the next row only: settings (VAR=VALUE), the code file, and what the
# server must have logged (an extended regular expression).
settings=()
code=$tmp/w/code
server_says=""
# row NAME now|new WITHIN CMS_WANT IPSEC_WANT PATTERN SERVER...
# WANT: ok or the message number; PATTERN: the reason (for IPSec only with
# a new client: today's toolkit gives the command none); WITHIN: seconds,
# the most or MIN-MAX.
row() {
  local name=$1 stage=$2 within=$3 cms_want=$4 ipsec_want=$5 pattern=$6
  local problems="" summary="" details="" host_saw="" agent want pat
  shift 6
  export TMPDIR=$tmp/t
  for agent in cms ipsec; do
    want=$cms_want pat=$pattern
    [ "$agent" = ipsec ] && want=$ipsec_want
    [ "$agent" = ipsec ] && [ "$client" = old ] && pat=""
    start_server "$@"
    (
      for setting in ${settings[@]+"${settings[@]}"}; do export "${setting?}"; done
      enroll "$agent" "$code"
      check_run "$tmp/w/out" "$want" "$pat" "$within" "$([ "$agent" = cms ] && echo yes)" \
        >"$tmp/w/problems"
      echo "$agent $([ "$rc" -eq 0 ] && echo ok || echo refused) ${took} s" >"$tmp/w/summary"
    )
    stop_server
    if [ -n "$server_says" ] && ! grep -qE "$server_says" "$server_log"; then
      echo "the server's log has no /$server_says/" >>"$tmp/w/problems"
    fi
    summary+="$(cat "$tmp/w/summary"); "
    problems+=$(sed "s/^/$agent: /" "$tmp/w/problems")
    [ -s "$tmp/w/problems" ] && problems+=$'\n'
    details+="$agent said: $(one_line "$tmp/w/out")"$'\n'
    [ "$agent" = cms ] && [ "$cms_want" != ok ] && host_saw=$(one_line "$tmp/w/out")
  done
  settings=() server_says=""
  code=$tmp/w/code
  details+="the server's last lines:"$'\n'$(tail -n 4 "$server_log")
  tally "$name" "$stage" "${summary%; }" "$problems" "$details"
  [ -n "$problems" ] || [ "$cms_want" = ok ] || echo "        host saw: $host_saw"
}

echo "== OpenSSL's mock CMP server, and servers that are not CMP servers =="
ok_within=8  # a success spends about 2 s making its protected-data copy
refused_within=2
row "a plain enrollment" now $ok_within ok ok "" "${mock[@]}"
row "implicit confirmation granted" now $ok_within ok ok "" "${mock[@]}" -grant_implicitconf
row "rejection with a status string" now $refused_within 52008 53002 \
  "no such user here" "${mock[@]}" -pkistatus 2 -failurebits 0 -statusstring "no such user here"
row "rejection with failure bits (badRequest, badPOP)" now $refused_within 52008 53002 \
  "rejection.*badRequest.*badPOP|rejection.*badPOP.*badRequest" "${mock[@]}" -pkistatus 2 -failurebits 516
row "always an error message" now $refused_within 52008 53002 "error processing message" \
  "${mock[@]}" -send_error
code=$tmp/w/wrong-code
row "wrong server secret (the CA's error under its own secret)" now $refused_within 52008 53002 \
  "wrong pbm value" "${mock[@]}"
row "an unprotected certificate is refused" now $refused_within 52008 53002 \
  "protect" "${mock[@]}" -send_unprotected
row "an unprotected rejection is marked unauthenticated" new $refused_within 52008 53002 \
  "the server's unauthenticated answer: .*chosen by anyone on the path" \
  "${mock[@]}" -send_unprot_err -pkistatus 2 -statusstring "chosen by anyone on the path"
row "an unprotected error message is marked unauthenticated" new $refused_within 52008 53002 \
  "the server's unauthenticated answer: " "${mock[@]}" -send_error -send_unprot_err
settings=(VESKAR_CMP_TRUST_FILE=$p/ca.pem)
row "answers signed by the server, trusted" new $ok_within ok ok "" "${signed[@]}"
row "answers signed by the server, no trust anchor set" new $refused_within 52008 53002 \
  "the CA signed its answer with a certificate that does not chain to VESKAR_CMP_TRUST_FILE.*not set" \
  "${signed[@]}"
settings=(VESKAR_CMP_TRUST_FILE=$p/other-ca.pem)
row "answers signed by the server, not trusted" new $refused_within 52008 53002 \
  "the CA signed its answer with a certificate that does not chain to VESKAR_CMP_TRUST_FILE" \
  "${signed[@]}"
server_says="certificate rejected by client"
row "a certificate for another key" new $refused_within 52008 53002 \
  "the CA returned a certificate for another key; refused it and told the CA" \
  "${mock[@]}" -rsp_cert "$p/other.pem"
row "a certificate from another CA" now $refused_within 52008 53002 \
  "without the CA certificate that issued it|not issued by|issuer" "${mock[@]}" -rsp_cert "$p/foreign.pem"
settings=(VESKAR_CMP_TOTAL_TIMEOUT=8)
row "polling within the total time-out" now 2-$ok_within ok ok "" "${mock[@]}" -poll_count 3 -check_after 1
settings=(VESKAR_CMP_TOTAL_TIMEOUT=4)
row "polling with a short total time-out still polls" new $ok_within ok ok "" \
  "${mock[@]}" -poll_count 2 -check_after 1
settings=(VESKAR_CMP_TOTAL_TIMEOUT=6)
row "polling beyond the total time-out" new 5-8 52008 53002 \
  "the CA asked to wait \([0-9]+ polls over [0-9]+ s\) and the total time-out of 6 s ran out" \
  "${mock[@]}" -poll_count 40 -check_after 1
settings=(VESKAR_CMP_MSG_TIMEOUT=2)
row "a silent server" new 4 52008 53002 "did not answer within 2 s" http silent
row "HTTP 500" new $refused_within 52008 53002 "the server answered HTTP 500, not CMP" http 500
row "HTTP 404" new $refused_within 52008 53002 "no CMP service at this path \(HTTP 404\)" http 404
row "an HTML page" now $refused_within 52008 53002 "not CMP|text/html|content.type" http html
row "no listener" new $refused_within 52008 53002 \
  "nothing listens at 127\.0\.0\.1:[0-9]+ \(connection refused\)" closed
row "an unknown host name" new 5 52008 53002 "the host name veskar-peer\.invalid is not known" unknown

summary "openssl mock"
