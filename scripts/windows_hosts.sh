#!/usr/bin/env bash
# Tests a Windows package under Wine the way a host uses it: unpacks the ZIP
# that `cpack` made in BUILD_DIR, builds the hosts of tests/winhost against
# the unpacked folder (its headers, Veskar.lib and CMake package), puts them
# beside Veskar.dll in its bin\ and enrolls through them at certificate
# authorities running natively here: `veskar ca serve`, OpenSSL's mock CMP
# server, and the served CA behind a TLS front (stunnel).
#
#   bash scripts/windows_hosts.sh x86_64|i686 BUILD_DIR
#
# Needs the native command (build/tools/veskar/veskar, or VESKAR_NATIVE), the
# mingw-w64 compilers, Wine for the architecture and stunnel4, as
# scripts/windows.sh provides them. Runs in the Wine prefix of WINEPREFIX when
# one is set (wine_prefix_begin), else in a throw-away one of its own. Runs
# every check, then fails when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine_env.sh
arch=${1:?usage: windows_hosts.sh x86_64|i686 BUILD_DIR}
build=$(realpath "${2:?usage: windows_hosts.sh x86_64|i686 BUILD_DIR}")
veskar=$(realpath "${VESKAR_NATIVE:-build/tools/veskar/veskar}")
[ -x "$veskar" ] || { echo "no native veskar at $veskar" >&2; exit 1; }
zips=("$build"/Veskar-*-win*.zip)
[ -f "${zips[0]}" ] || { echo "no package in $build (run cpack -G ZIP there)" >&2; exit 1; }
ssl_root=$(sed -n 's/^VESKAR_OPENSSL_ROOT:PATH=//p' "$build/CMakeCache.txt")

work=$(mktemp -d /tmp/veskar-winhosts.XXXXXX)
servers=()
own_prefix=""
placed_conf=""      # a hostile openssl.cnf outside $work, and the folder made for it
made_openssldir=""
remove_placed_conf() {
  [ -z "$placed_conf" ] || rm -f "$placed_conf"
  [ -z "$made_openssldir" ] || rmdir "$made_openssldir" 2>/dev/null || true
  placed_conf="" made_openssldir=""
}
cleanup() {
  remove_placed_conf
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${servers[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -z "$own_prefix" ] || wine_prefix_end
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=1
  wine_prefix_begin "$arch"
fi

failures=0
runner=()  # what Wine runs inside: nothing, or the hostile configuration's namespace
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

echo "== $arch: the package, unpacked"
cmake -E chdir "$work" cmake -E tar xf "${zips[0]}"
package=$(echo "$work"/Veskar-*-win*)
bin=$package/bin
ls "$bin"

echo "== $arch: the hosts, built against the package"
cmake -S tests/winhost -B "$work/hosts" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$arch-w64-mingw32.cmake" \
  -DVeskar_DIR="$package/lib/cmake/Veskar" >/dev/null
cmake --build "$work/hosts" >"$work/hosts.log" 2>&1 || { cat "$work/hosts.log" >&2; exit 1; }
cp "$work"/hosts/*.exe "$work"/hosts/*.dll "$work"/hosts/enroll_host/enroll_host.exe "$bin/"

# A free loopback port (nothing answers there).
free_port() {
  local port
  for port in $(shuf -i 20000-60000 -n 50); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}
# Waits until something accepts connections on PORT.
await_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# run NAME ARGS...: a program of the package's bin\ under Wine, from the
# current folder, its output in $work/out and $work/err. Wine has been seen,
# rarely, to fail a process start with no output at all: such a start is
# tried once more.
run() {
  local program=$1 status
  shift
  for attempt in 1 2; do
    status=0
    timeout 300 "${runner[@]}" "$WINE" "$(wine_path "$bin/$program.exe")" "$@" >"$work/out" \
      2>"$work/err" || status=$?
    [ "$status" -ne 0 ] && [ ! -s "$work/out" ] && [ ! -s "$work/err" ] && [ "$attempt" = 1 ] ||
      break
  done
  return "$status"
}
# Shows what the last run printed.
shown() { sed 's/^/    /' "$work/out" "$work/err" >&2; }
# The last line of what the last run printed on its error stream.
reason() { grep -v '^[[:space:]]*$' "$work/err" | tail -1; }
w() { wine_path "$work/$1"; }

# user NAME: registers NAME at the served CA; sets ref, the code goes to
# $work/NAME.code.
user() {
  local added
  added=$("$veskar" ca add-user "$work/ca" "CN=$1, O=Veskar Wine Test")
  ref=$(sed -n 's/^reference number: //p' <<<"$added")
  sed -n 's/^authorisation code: //p' <<<"$added" >"$work/$1.code"
}
# request NAME: a fresh key and its PKCS #10 request, $work/NAME.key and .der.
request() {
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/$1.key" \
    -subj "/CN=$1" -outform DER -out "$work/$1.der" 2>/dev/null
}
# ca_certificate NAME SUBJECT: a self-signed CA, $work/NAME.pem and .key.
ca_certificate() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -keyout "$work/$1.key" -out "$work/$1.pem" -subj "$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2>/dev/null
}
# verified NAME CA.pem: the certificate $work/NAME.cert.der chains to CA.pem.
verified() {
  openssl x509 -inform DER -in "$work/$1.cert.der" -out "$work/$1.cert.pem" 2>/dev/null &&
    openssl verify -CAfile "$2" "$work/$1.cert.pem" >/dev/null 2>&1
}
# enroll NAME CA_LOCATION REFERENCE: the example host with $work/NAME.code
# and a fresh request; the certificates in $work/NAME.cert.der and .ca.der.
enroll() {
  request "$1"
  run enroll_host "$2" "$(w published)" "$3" "$(w "$1.code")" "$(w "$1.der")" \
    "$(w "$1.cert.der")" "$(w "$1.ca.der")"
}
# enrolls NAME CA_LOCATION WHAT: a new user of the served CA enrolls through
# the example host, and the certificate verifies against the served CA.
enrolls() {
  user "$1"
  if enroll "$1" "$2" "$ref" && verified "$1" "$work/ca/ca.pem"; then
    pass "$3"
  else
    fail "$3"; shown
  fi
}
# refused NAME CA_LOCATION PATTERN WHAT: a new user's enrollment fails, for
# a reason that matches PATTERN.
refused() {
  user "$1"
  if ! enroll "$1" "$2" "$ref" && grep -qiE "$3" "$work/err"; then
    pass "$4: $(reason)"
  else
    fail "$4"; shown
  fi
}
# ipsec_enrolls NAME WHAT: a new IPSec user of the served CA is created and
# logs in to the new profile again.
ipsec_enrolls() {
  user "$1"
  echo "$1's profile password" >"$work/$1.password"
  if run ipsec_host "$url" "$(w published)" "$ref" "$(w "$1.code")" "$(w "$1.password")" \
    "$(w "$1.profile")" "$(w "$1.cert.der")" && verified "$1" "$work/ca/ca.pem"; then
    pass "$2"
  else
    fail "$2"; shown
  fi
}

echo "== $arch: a CA served over CMP on loopback"
"$veskar" ca init "$work/ca" --name "CN=Veskar Wine Test CA" >/dev/null
mkdir "$work/published"
ca_port=$(free_port)
"$veskar" ca serve "$work/ca" --listen "127.0.0.1:$ca_port" >"$work/serve.out" 2>"$work/serve.log" &
servers+=($!)
await_port "$ca_port" || { cat "$work/serve.log" >&2; echo "the CA did not start" >&2; exit 1; }
url=http://127.0.0.1:$ca_port/pkix/
cd "$bin"

echo "== $arch: the package's command"
if run veskar services && grep -q 'service mask: 7' "$work/out" &&
  grep -qi 'loaded from .*cmsapi32\.dll' "$work/out" &&
  grep -qi 'loaded from .*kmpapi32\.dll' "$work/out"; then
  pass "veskar.exe services: mask 7, both toolkits found"
else
  fail "veskar.exe services"; shown
fi
user command
if run veskar enroll cms --ca "$url" --directory "$(w published)" --reference "$ref" \
  --code-file "$(w command.code)" --new-key "$(w command.key)" --cert "$(w command.pem)" \
  --ca-cert "$(w command.ca.pem)" &&
  openssl verify -CAfile "$work/ca/ca.pem" "$work/command.pem" >/dev/null 2>&1; then
  pass "veskar.exe enroll cms at the served CA"
else
  fail "veskar.exe enroll cms at the served CA"; shown
fi

echo "== $arch: the example host"
user alice
if enroll alice "$url" "$ref" && verified alice "$work/ca/ca.pem" &&
  cmp -s "$work/alice.ca.der" <(openssl x509 -in "$work/ca/ca.pem" -outform DER); then
  pass "enroll_host at the served CA; the certificate verifies against its CA"
else
  fail "enroll_host at the served CA"; shown
fi
user mallory
echo "not-the-code" >"$work/mallory.code"
if ! enroll mallory "$url" "$ref" && grep -q "the authorisation code does not match it" "$work/err"; then
  pass "a wrong code is refused with the server's reason: $(reason)"
else
  fail "a wrong code"; shown
fi

echo "== $arch: the example host at OpenSSL's mock CMP server"
# The mock answers any request with the certificate it was given, which
# must certify the request's key: it is issued here for the request the
# host sends.
ca_certificate mock-ca "/CN=Veskar Mock CA"
request mock
openssl x509 -req -inform DER -in "$work/mock.der" -CA "$work/mock-ca.pem" \
  -CAkey "$work/mock-ca.key" -set_serial 4711 -days 1 -out "$work/mock-issued.pem" 2>/dev/null
echo "mock-secret-$RANDOM" >"$work/mock.code"
mock_port=$(free_port)
# The CA certificate travels in caPubs (initialization responses) and in
# the extra certificates (every response).
openssl cmp -config "" -port "$mock_port" -srv_ref 4711 -srv_secret "file:$work/mock.code" \
  -srv_cert "$work/mock-ca.pem" -srv_key "$work/mock-ca.key" -rsp_cert "$work/mock-issued.pem" \
  -rsp_capubs "$work/mock-ca.pem" -rsp_extracerts "$work/mock-ca.pem" \
  >"$work/mock.log" 2>&1 &
servers+=($!)
if ! await_port "$mock_port"; then
  fail "the mock server did not start"; cat "$work/mock.log" >&2
elif run enroll_host "http://127.0.0.1:$mock_port/pkix/" "$(w published)" 4711 "$(w mock.code)" \
  "$(w mock.der)" "$(w mock.cert.der)" "$(w mock.ca.der)" && verified mock "$work/mock-ca.pem"; then
  pass "enroll_host at the mock server; the certificate verifies against the mock's CA"
else
  fail "enroll_host at the mock server"; shown; tail -5 "$work/mock.log" >&2
fi

echo "== $arch: the IPSec agent"
ipsec_enrolls bob "ipsec_host: a user created at the served CA, its profile logged in to again"

echo "== $arch: loaded, enrolled, unloaded, exited"
user carol
request carol
if run unload_host "$url" "$(w published)" "$ref" "$(w carol.code)" "$(w carol.der)" \
  "$(w carol.cert.der)" && verified carol "$work/ca/ca.pem"; then
  pass "unload_host: enrolled, freed the library, exited with status 0"
  if grep -q '^still loaded' "$work/out"; then
    fail "unload_host: after FreeLibrary, $(sed -n 's/^still loaded: //p' "$work/out" | paste -sd,)" \
      "still loaded"
  else
    pass "unload_host: FreeLibrary unloaded the library and both toolkits"
  fi
else
  fail "unload_host"; shown
fi

echo "== $arch: https through a TLS front"
ca_certificate tls-ca "/CN=Veskar Wine TLS CA"
openssl x509 -in "$work/tls-ca.pem" -outform DER -out "$work/tls-ca.der"
# tls_server NAME SAN: a server certificate from the TLS CA.
tls_server() {
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/$1.key" \
    -subj "/CN=$1" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$work/tls-ca.pem" -CAkey "$work/tls-ca.key" \
    -set_serial "$RANDOM" -days 1 -out "$work/$1.pem" \
    -extfile <(printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$2") 2>/dev/null
}
tls_server localhost "DNS:localhost,IP:127.0.0.1"
tls_server elsewhere "DNS:elsewhere.example"
tls_port=$(free_port)
other_port=$(free_port)
cat >"$work/stunnel.conf" <<EOF
foreground = yes
pid =
[served]
accept = 127.0.0.1:$tls_port
connect = 127.0.0.1:$ca_port
cert = $work/localhost.pem
key = $work/localhost.key
[elsewhere]
accept = 127.0.0.1:$other_port
connect = 127.0.0.1:$ca_port
cert = $work/elsewhere.pem
key = $work/elsewhere.key
EOF
stunnel4 "$work/stunnel.conf" >"$work/stunnel.log" 2>&1 &
servers+=($!)
https=https://localhost:$tls_port/pkix/
tls_ca_file=$(w tls-ca.pem)
if ! await_port "$tls_port" || ! await_port "$other_port"; then
  fail "stunnel did not start"; cat "$work/stunnel.log" >&2
else
  refused dave "$https" 'TLS: unable to get local issuer' "https: a server whose CA is in no trust store is refused"
  VESKAR_CMP_TLS_CA_FILE=$tls_ca_file \
    enrolls erin "$https" "https: the server trusted through VESKAR_CMP_TLS_CA_FILE"
  # The name is all that is wrong with this server: its CA is trusted.
  VESKAR_CMP_TLS_CA_FILE=$tls_ca_file refused frank "https://localhost:$other_port/pkix/" \
    'verif|host ?name|mismatch' "https: a certificate for another host name is refused"
  if run trust_root "$(w tls-ca.der)"; then
    enrolls grace "$https" "https: the server trusted through the Windows ROOT store"
    VESKAR_CMP_TLS_CA_FILE=$(w ca/ca.pem) refused heidi "$https" 'TLS: unable to get local issuer' \
      "https: with VESKAR_CMP_TLS_CA_FILE naming another CA, the ROOT store is not consulted"
  else
    fail "the TLS CA could not be put into the ROOT store"; shown
  fi
fi

echo "== $arch: a hostile openssl.cnf where OpenSSL looks by default"
# OpenSSL's default configuration file is OPENSSLDIR/openssl.cnf, a path
# baked in when it was built (here inside the OpenSSL prefix). Windows
# resolves that rooted path on the current drive, Wine on the Linux side:
# the file goes to both places, the Linux one (where the system allows) on a
# file system mounted in a private mount namespace, which nothing outside
# the test sees. It names a
# provider module that says when it is loaded (config_canary.dll, no
# provider at all), activates the provider that has no algorithms and asks
# every fetch for a provider that does not exist; none of it may reach the
# toolkits.
openssldir=$(strings -a "$ssl_root/lib/libcrypto.a" | sed -n 's/^OPENSSLDIR: "\(.*\)"$/\1/p' | head -1)
if [ -z "$openssldir" ] || [ "${openssldir#"$ssl_root"/}" = "$openssldir" ]; then
  fail "OPENSSLDIR of $ssl_root/lib/libcrypto.a ('$openssldir') is not inside its prefix"
elif [ -e "$openssldir/openssl.cnf" ]; then
  fail "$openssldir/openssl.cnf exists: the hostile one has no place"
else
  # (A backslash escapes in OpenSSL's configuration files: the module's
  # Windows path is written with slashes.)
  cat >"$work/hostile.cnf" <<EOF
openssl_conf = hostile
[hostile]
providers = hostile_providers
alg_section = hostile_algorithms
[hostile_providers]
canary = canary_provider
null = null_provider
[canary_provider]
module = Z:$bin/config_canary.dll
activate = 1
[null_provider]
activate = 1
[hostile_algorithms]
default_properties = provider=missing
EOF
  mkdir -p "$WINEPREFIX/drive_c$openssldir" "$WINEPREFIX/drive_c/veskar-run"
  cp "$work/hostile.cnf" "$WINEPREFIX/drive_c$openssldir/openssl.cnf"
  if unshare -m --propagation private true 2>/dev/null; then
    # Wine's server opens the files its programs ask for, so each program
    # runs with a server of its own inside the namespace, stopped after it.
    "$wine_dir/wineserver" -k
    "$wine_dir/wineserver" -w
    runner=(unshare -m --propagation private bash -c
      'mount -t tmpfs veskar-hostile "$1" && mkdir -p "$2" && cp "$3" "$2/openssl.cnf" || exit 1
       server=$4
       shift 4
       status=0
       "$@" || status=$?
       "$server" -k
       exit "$status"' _ "$ssl_root" "$openssldir" "$work/hostile.cnf" "$wine_dir/wineserver")
  else
    # Without the right to a mount namespace (some containers), the file
    # lies in the real folder while the checks run; the clean-up takes it
    # away, and the folder when it made it.
    echo "(no private mount namespace: the hostile openssl.cnf goes to $openssldir itself)"
    [ -d "$openssldir" ] || made_openssldir=$openssldir
    placed_conf=$openssldir/openssl.cnf
    mkdir -p "$openssldir"
    cp "$work/hostile.cnf" "$placed_conf"
  fi
  cd "$WINEPREFIX/drive_c/veskar-run"
  enrolls ivan "$url" "hostile openssl.cnf: enrollment over http still succeeds"
  VESKAR_CMP_TLS_CA_FILE=$tls_ca_file \
    enrolls judy "$https" "hostile openssl.cnf: enrollment over https still succeeds"
  ipsec_enrolls mike "hostile openssl.cnf: a new IPSec user's key and enrollment still succeed"
  if [ ${#runner[@]} -ne 0 ]; then
    runner=()
    wine_server_keep
  fi
  remove_placed_conf
  if [ -e "$bin/config_canary.dll.loaded" ]; then
    fail "hostile openssl.cnf: a toolkit loaded the provider module it names"
  else
    pass "hostile openssl.cnf: no toolkit loaded the provider module it names"
  fi
  cd "$bin"
fi

if [ "$failures" -ne 0 ]; then
  echo "$arch: $failures check(s) failed" >&2
  exit 1
fi
echo "$arch: every host check passed"
