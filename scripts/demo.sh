#!/usr/bin/env bash
# The main job: builds the library, its command and the stand-in toolkits,
# then enrolls users end to end against a throw-away certificate authority
# served over CMP on a loopback port: a CMS enrollment from a fresh key, the
# certificate shown and verified with openssl, then an IPSec user created and
# logged in, and logged in again; then the server is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# A progress line while it builds; the compiler's messages when the build
# fails.
build_log=$(mktemp)
printf 'building ...'
set +e
cmake --build build --target veskar_cli 2>&1 | tee "$build_log" |
  sed -un 's/^\[\([0-9]*\/[0-9]*\)\].*/\1/p' |
  while read -r step; do printf '\rbuilding ... %s' "$step"; done
build_status=${PIPESTATUS[0]}
set -e
if [ "$build_status" -ne 0 ]; then
  printf '\rbuilding ... failed\n'
  cat "$build_log" >&2
  rm -f "$build_log"
  exit 1
fi
printf '\rbuilding ... done       \n'
rm -f "$build_log"
veskar=$PWD/build/tools/veskar/veskar

# Everything the demonstration makes, the library's temporary files
# included, lives in one folder that goes away however the script ends.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
cd "$work"

step() { printf '\n== %s\n' "$*"; }
# Prints the value of a "name: value" line of the output of `veskar ca add-user`.
field() { sed -n "s/^$1: //p"; }

step "toolkits"
"$veskar" services

step "a certificate authority in a throw-away folder, and a publish folder"
"$veskar" ca init ca --name "CN=Demo CA, O=Veskar Demo"
mkdir directory

step "the CA serves enrollments over CMP (HTTP) on a free loopback port"
"$veskar" ca serve ca --listen 127.0.0.1:0 >serve.out 2>serve.log &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
url=
for _ in $(seq 100); do
  url=$(sed -n 's/^serving .* at //p' serve.out)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { cat serve.log >&2; echo "the CA server did not start" >&2; exit 1; }
echo "CA at $url"

step "the administrator registers Alice"
alice=$("$veskar" ca add-user ca "CN=Alice Example, O=Veskar Demo")
echo "$alice"
alice_ref=$(field "reference number" <<<"$alice")
# The code is a secret: it goes in a file, not on the command line.
(umask 077 && field "authorisation code" <<<"$alice" >alice.code)

step "Alice enrolls through the CMS toolkit with a fresh key"
enrolled=$("$veskar" enroll cms --ca "$url" --directory directory \
  --reference "$alice_ref" --code-file alice.code \
  --new-key alice.key --publish --cert alice.pem --ca-cert ca-copy.pem \
  --protected-copy alice.protected)
echo "$enrolled"

step "the certificate, as openssl sees it"
openssl x509 -in alice.pem -noout -subject -issuer -serial -dates
openssl verify -CAfile ca/ca.pem alice.pem
# The certificate certifies Alice's new key.
cmp <(openssl x509 -in alice.pem -noout -pubkey) <(openssl pkey -in alice.key -pubout)
echo "the certificate holds the public key of alice.key"
echo "published: $(ls directory)"

step "the library's protected copy, opened with the reference number"
copy=$(sed -n 's/^  protected copy: //p' <<<"$enrolled")
[ "$copy" = alice.protected ]
printf '%s\n' "$alice_ref" >alice.ref
"$veskar" protected get --file "$copy" --label "Verification Certificate" \
  --protection-file alice.ref --out copy.der
cmp <(openssl x509 -inform der -in copy.der -outform der) <(openssl x509 -in alice.pem -outform der)
echo "the copy is the certificate Alice received"

step "the same codes a second time are refused"
if "$veskar" enroll cms --ca "$url" --reference "$alice_ref" --code-file alice.code \
  --new-key again.key --cert again.pem 2>&1; then
  echo "a used pair was accepted" >&2
  exit 1
fi
[ ! -e again.key ] && [ ! -e again.pem ]
echo "refused, and the key made for it removed again"

step "the administrator registers Bob for IPSec"
bob=$("$veskar" ca add-user ca "CN=Bob Example, O=Veskar Demo")
echo "$bob"
(umask 077 && field "authorisation code" <<<"$bob" >bob.code)
(umask 077 && printf 'correct horse battery staple\n' >bob.password)

step "Bob's IPSec user is created and logged in"
"$veskar" enroll ipsec --ca "$url" --directory directory --profile bob.p12 \
  --reference "$(field "reference number" <<<"$bob")" \
  --code-file bob.code \
  --password-file bob.password --cert bob.pem --ca-cert bob-ca.pem
openssl verify -CAfile ca/ca.pem bob.pem

step "Bob logs in to his existing profile again"
"$veskar" enroll ipsec --profile bob.p12 --password-file bob.password

step "the CA server stops (SIGTERM) after answering what it was asked; its log"
kill -TERM "$server"
wait "$server"
cat serve.log

step "done: every step succeeded"
