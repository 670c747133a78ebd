#!/usr/bin/env bash
# Enrollment at `veskar ca serve` through what stands between clients and
# CAs in the field:
#   - a TLS front (Debian's stunnel4) on loopback, with a good certificate
#     for 127.0.0.1 and localhost, one for another name, an expired one and
#     one from an unknown issuer;
#   - an HTTP proxy (Debian's tinyproxy), for http and, by CONNECT, for
#     https, chosen by http_proxy/https_proxy/no_proxy or VESKAR_CMP_PROXY.
# Each row enrolls a fresh user through both toolkits with `veskar enroll`
# and checks the outcome, the reason, the time taken, the temporary folder
# and, from the proxy's log, whether the messages went through the proxy.
# One line per row; any failure fails the script.
#
# Usage: run.sh [BUILD_DIR]   (the native build folder, default build/)
# PEER_CLIENT=auto|new|old: see ../lib.sh.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib.sh"
peer_setup "${1:-build}"
peer_need stunnel4:stunnel4 tinyproxy:tinyproxy
export VESKAR_CMP_MSG_TIMEOUT=5 VESKAR_CMP_TOTAL_TIMEOUT=20
mkdir -p "$tmp/pki" "$tmp/w"

# The served CA.
"$veskar" ca init "$tmp/ca" >/dev/null
"$veskar" ca serve "$tmp/ca" --listen 127.0.0.1:0 >"$tmp/serve.out" 2>"$tmp/serve.err" &
pids+=($!)
wait_for "$tmp/serve.out" 'http://'
http_url=$(grep -o 'http://[^ ]*' "$tmp/serve.out" | head -n1)
serve_port=${http_url#http://127.0.0.1:}
serve_port=${serve_port%%/*}

# TLS certificates: a test root and what it issues, an expired one, and one
# from a root nobody trusts.
p=$tmp/pki
# issue NAME ROOT SAN [START END]: a server certificate, valid from START to
# END (openssl ca's YYMMDDHHMMSSZ) when given.
issue() {
  local dates=(-days 30)
  [ $# -lt 5 ] || dates=(-startdate "$4" -enddate "$5")
  new_key "$1"
  mkdir -p "$p/$2.db"
  [ -f "$p/$2.db/index" ] || { : >"$p/$2.db/index" && echo 01 >"$p/$2.db/serial"; }
  cat >"$p/$2.cnf" <<CONF
[ca]
default_ca = this
[this]
database = $p/$2.db/index
serial = $p/$2.db/serial
new_certs_dir = $p/$2.db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
[server]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $3
CONF
  openssl req -new -key "$p/$1.key" -subj "/CN=$1" -out "$p/$1.csr"
  openssl ca -batch -notext -config "$p/$2.cnf" -extensions server -cert "$p/$2.pem" \
    -keyfile "$p/$2.key" "${dates[@]}" -in "$p/$1.csr" -out "$p/$1.pem" 2>/dev/null
}
new_root root "Peer TLS Root"
new_root stranger "Unknown TLS Root"
issue good root "DNS:localhost,IP:127.0.0.1"
issue other-name root "DNS:ca.elsewhere.example"
issue expired root "DNS:localhost,IP:127.0.0.1" 200101000000Z 200201000000Z
issue unknown stranger "DNS:localhost,IP:127.0.0.1"

# One stunnel, a front per certificate, each before the served CA.
declare -A front
{
  echo "foreground = yes"
  echo "pid ="
  echo "debug = notice"
  for name in good other-name expired unknown; do
    front[$name]=$(free_port)
    printf '[%s]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\ncert = %s\nkey = %s\n' \
      "$name" "${front[$name]}" "$serve_port" "$p/$name.pem" "$p/$name.key"
  done
} >"$tmp/stunnel.conf"
stunnel4 "$tmp/stunnel.conf" >"$tmp/stunnel.log" 2>&1 &
pids+=($!)
wait_for "$tmp/stunnel.log" "Configuration successful"

# tinyproxy, allowed to tunnel to the good front only; its log tells which
# messages passed it.
proxy_port=$(free_port)
proxy=http://127.0.0.1:$proxy_port
proxy_log=$tmp/proxy.log
cat >"$tmp/tinyproxy.conf" <<CONF
Port $proxy_port
Listen 127.0.0.1
Allow 127.0.0.1
Timeout 30
MaxClients 20
LogFile "$proxy_log"
LogLevel Info
ConnectPort ${front[good]}
CONF
: >"$proxy_log"
tinyproxy -d -c "$tmp/tinyproxy.conf" >"$tmp/tinyproxy.out" 2>&1 &
pids+=($!)
wait_for "$proxy_log" "Accepting connections|listening on"
nobody=http://127.0.0.1:$(free_port) # a proxy that is not there
proxied() { grep -cE 'Request \(file descriptor [0-9]+\): (POST http|CONNECT )' "$proxy_log" || true; }

https_url=https://127.0.0.1:${front[good]}/pkix/
echo 'profile password' >"$tmp/w/password"

# Enrolls a fresh user through AGENT (cms or ipsec) at URL.
enroll() {
  local user ref
  user=$("$veskar" ca add-user "$tmp/ca" "CN=Front $1 User")
  ref=$(sed -n 's/^reference number: //p' <<<"$user")
  sed -n 's/^authorisation code: //p' <<<"$user" >"$tmp/w/code"
  rm -rf "$tmp/w/profile" "$tmp/w/key" "$TMPDIR"
  mkdir -p "$TMPDIR"
  if [ "$1" = cms ]; then
    timed "$tmp/w/out" "$veskar" enroll cms --ca "$2" --reference "$ref" \
      --code-file "$tmp/w/code" --new-key "$tmp/w/key" --cert "$tmp/w/cert.pem"
  else
    timed "$tmp/w/out" "$veskar" enroll ipsec --profile "$tmp/w/profile" --ca "$2" \
      --reference "$ref" --code-file "$tmp/w/code" --password-file "$tmp/w/password" \
      --cert "$tmp/w/cert.pem"
  fi
  if [ "$rc" -eq 0 ] && ! openssl verify -CAfile "$tmp/ca/ca.pem" "$tmp/w/cert.pem" >/dev/null 2>&1; then
    rc=99
    echo "the certificate does not verify against the served CA" >>"$tmp/w/out"
  fi
}

# row NAME now|new URL WANT PATTERN VIA [VAR=VALUE...]
# WANT: ok or "refused" (messages 52008 and 53002); PATTERN: the reason
# (for IPSec only with a new client); VIA: proxy (every enrollment passed
# the proxy), direct (none did) or - (no proxy running in the row's way).
row() {
  local name=$1 stage=$2 url=$3 want=$4 pattern=$5 via=$6
  local problems="" summary="" details="" agent agent_want pat before after
  shift 6
  export TMPDIR=$tmp/t
  for agent in cms ipsec; do
    agent_want=$want pat=$pattern
    if [ "$want" = refused ]; then
      agent_want=52008
      [ "$agent" = cms ] || agent_want=53002
    fi
    [ "$agent" = ipsec ] && [ "$client" = old ] && pat=""
    before=$(proxied)
    (
      for setting in "$@"; do export "${setting?}"; done
      enroll "$agent" "$url"
      within=8
      [ "$want" = ok ] || within=2
      check_run "$tmp/w/out" "$agent_want" "$pat" "$within" "$([ "$agent" = cms ] && echo yes)" \
        >"$tmp/w/problems"
      echo "$agent $([ "$rc" -eq 0 ] && echo ok || echo refused) ${took} s" >"$tmp/w/summary"
    )
    after=$(proxied)
    if [ "$via" = proxy ] && [ "$after" -le "$before" ]; then
      echo "did not pass the proxy" >>"$tmp/w/problems"
    elif [ "$via" = direct ] && [ "$after" -ne "$before" ]; then
      echo "passed the proxy" >>"$tmp/w/problems"
    fi
    summary+="$(cat "$tmp/w/summary"); "
    problems+=$(sed "s/^/$agent: /" "$tmp/w/problems")
    [ -s "$tmp/w/problems" ] && problems+=$'\n'
    details+="$agent said: $(one_line "$tmp/w/out")"$'\n'
  done
  details+="the proxy's last lines:"$'\n'$(tail -n 3 "$proxy_log")
  tally "$name" "$stage" "${summary%; }" "$problems" "$details"
}

root=VESKAR_CMP_TLS_CA_FILE=$p/root.pem
tls() { echo "https://$1:${front[$2]}/pkix/"; }
echo "== https through a TLS front =="
row "trusted by VESKAR_CMP_TLS_CA_FILE" now "$https_url" ok "" - "$root"
row "trusted, by the name localhost" now "$(tls localhost good)" ok "" - "$root"
row "not in the system's trust store" new "$https_url" refused \
  "TLS: (unable to get local issuer certificate|self-signed certificate in certificate chain) \(127\.0\.0\.1\)" -
row "a certificate for another name" new "$(tls 127.0.0.1 other-name)" refused \
  "TLS: (hostname|IP address) mismatch \(127\.0\.0\.1\)" - "$root"
row "an expired certificate" new "$(tls 127.0.0.1 expired)" refused \
  "TLS: certificate has expired \(127\.0\.0\.1\)" - "$root"
row "a certificate from an unknown issuer" new "$(tls 127.0.0.1 unknown)" refused \
  "TLS: unable to get local issuer certificate \(127\.0\.0\.1\)" - "$root"

echo "== through an HTTP proxy =="
row "http_proxy for an http CA" new "$http_url" ok "" proxy "http_proxy=$proxy"
row "https_proxy for an https CA (CONNECT)" new "$https_url" ok "" proxy "https_proxy=$proxy" "$root"
row "no_proxy naming the CA's address" now "$http_url" ok "" direct \
  "http_proxy=$proxy" "no_proxy=ca.example,127.0.0.1"
row "no_proxy=* for an https CA" now "$https_url" ok "" direct "https_proxy=$proxy" "no_proxy=*" "$root"
row "HTTP_PROXY in upper case is not read" now "$http_url" ok "" direct "HTTP_PROXY=$nobody"
row "VESKAR_CMP_PROXY for an http CA" new "$http_url" ok "" proxy "VESKAR_CMP_PROXY=$proxy"
row "VESKAR_CMP_PROXY overrides http_proxy and no_proxy" new "$http_url" ok "" proxy \
  "VESKAR_CMP_PROXY=$proxy" "http_proxy=$nobody" "no_proxy=127.0.0.1"
row "VESKAR_CMP_PROXY set but empty: no proxy" now "$http_url" ok "" direct \
  "VESKAR_CMP_PROXY=" "http_proxy=$nobody" "https_proxy=$nobody"

summary "tls and proxy"
