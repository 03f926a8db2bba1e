#!/usr/bin/env bash
# Installs the assistant command-line programs that tools/record-terminal-programs.sh
# records, at the versions recorded, into a folder of their own (no global install).
#
#   tools/install-assistant-clis.sh FOLDER     then: VELK_ASSISTANT_CLIS=FOLDER tools/record-…
set -euo pipefail
folder=${1:?usage: $0 FOLDER}
mkdir -p "$folder"
cd "$folder"
[ -e package.json ] || printf '{"name": "velk-recorded-assistants", "private": true}\n' > package.json
npm install --no-fund --no-audit \
    @anthropic-ai/claude-code@2.1.332 @openai/codex@0.171.0 @google/gemini-cli@0.61.0
