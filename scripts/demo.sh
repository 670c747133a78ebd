#!/usr/bin/env bash
# The main job: builds the library and its command, then shows what a host
# sees: the service mask, the version record and the message table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target veskar_cli >/dev/null
veskar=build/tools/veskar/veskar
set -x
"$veskar" version
"$veskar" services
"$veskar" messages
