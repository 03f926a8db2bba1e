#!/usr/bin/env python3
"""Makes a fresh home folder in which the three assistant programs have finished their
first-run onboarding and talk to the local model server, and prints the environment that
goes with it as NAME=VALUE lines.

    prepare_home.py HOME BASE_URL CLI_BIN_FOLDER [TRUSTED_FOLDER ...]

The configuration files are the ones each program writes itself once its onboarding is done,
with the test endpoint and a dummy key; nothing outside HOME is written.
"""
import json
import os
import sys

home, base_url, bin_folder = sys.argv[1:4]
trusted = sys.argv[4:]
key = "sk-velk-test-0000000000000000000000000000"

os.makedirs(home, exist_ok=True)

# Claude Code: onboarding done, the key from the environment approved (it keeps the key's
# last 20 characters), the update check and every request but the model's off, and tools
# asked about as by default (its newer models otherwise start in auto mode, deciding alone).
with open(os.path.join(home, ".claude.json"), "w") as out:
    json.dump({"hasCompletedOnboarding": True, "lastOnboardingVersion": "2.1.332",
               "numStartups": 1, "autoUpdates": False,
               "customApiKeyResponses": {"approved": [key[-20:]], "rejected": []},
               "projects": {folder: {"hasTrustDialogAccepted": True,
                                     "hasCompletedProjectOnboarding": True}
                            for folder in trusted}}, out, indent=2)
os.makedirs(os.path.join(home, ".claude"), exist_ok=True)
with open(os.path.join(home, ".claude", "settings.json"), "w") as out:
    json.dump({"autoUpdates": False, "theme": "dark",
               "permissions": {"defaultMode": "default"}}, out, indent=2)

# Codex: the API key as `codex login --with-api-key` stores it, a model provider of its own
# for the server (Codex no longer reads OPENAI_BASE_URL, and its built-in OpenAI provider
# tries web sockets five times before it posts), no update check, the trusted folders.
# Its retries are bounded: one per request and stream, and none forever while the server
# cannot be reached (the unbounded_connection_retries feature, on by default, otherwise
# shows "Reconnecting... waiting for network" until the user stops it).
codex = os.path.join(home, ".codex")
codex_config = ('model_provider = "velk-test"\nmodel = "gpt-test"\n'
                'check_for_update_on_startup = false\n\n[analytics]\nenabled = false\n\n'
                '[features]\nunbounded_connection_retries = false\n\n'
                '[model_providers.velk-test]\nname = "VELK test server"\nbase_url = "%s/v1"\n'
                'env_key = "OPENAI_API_KEY"\nwire_api = "responses"\n'
                'request_max_retries = 1\nstream_max_retries = 1\n' % base_url)
os.makedirs(codex, exist_ok=True)
with open(os.path.join(codex, "auth.json"), "w") as out:
    json.dump({"OPENAI_API_KEY": key}, out, indent=2)
with open(os.path.join(codex, "config.toml"), "w") as out:
    out.write(codex_config)
    for folder in trusted:
        out.write('\n[projects."%s"]\ntrust_level = "trusted"\n' % folder)
# Runs with --ignore-user-config still read the system layer; inside the tests' own mount
# namespace /etc is an overlay of theirs (run-isolated.sh), never the machine's.
if os.environ.get("VELK_ASSISTANTS_ISOLATED") == "1" and os.access("/etc/codex", os.W_OK):
    with open("/etc/codex/config.toml", "w") as out:
        out.write(codex_config)

# Gemini CLI: signed in with an API key, no update check, two attempts per request (like
# the other two programs' lowered retries), no usage statistics, no tips. The model is named:
# its automatic model choice retries up to ten times on a fallback model whatever
# maxAttempts says (over a minute against a server that is not there). Errors are shown in
# full: with the default ("low"), a server error that outlasts the attempts is retried
# again and again behind the spinner; in full, the program asks whether to keep trying
# or stop.
gemini = os.path.join(home, ".gemini")
os.makedirs(gemini, exist_ok=True)
with open(os.path.join(gemini, "settings.json"), "w") as out:
    json.dump({"security": {"auth": {"selectedType": "gemini-api-key"}},
               "general": {"disableAutoUpdate": True, "disableUpdateNag": True,
                           "maxAttempts": 2},
               "model": {"name": "gemini-2.5-flash"},
               "privacy": {"usageStatisticsEnabled": False},
               "ui": {"hideTips": True, "hideBanner": True, "errorVerbosity": "full"}},
              out, indent=2)
with open(os.path.join(gemini, "trustedFolders.json"), "w") as out:
    json.dump({folder: "TRUST_FOLDER" for folder in trusted}, out, indent=2)

environment = {
    "HOME": home,
    "PATH": bin_folder + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
    "DISABLE_AUTOUPDATER": "1",
    "DISABLE_TELEMETRY": "1",
    "ANTHROPIC_BASE_URL": base_url,
    "ANTHROPIC_API_KEY": key,
    "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC": "1",
    "CLAUDE_CODE_MAX_RETRIES": "1",
    "OPENAI_API_KEY": key,
    "CODEX_HOME": codex,
    "GOOGLE_GEMINI_BASE_URL": base_url,
    "GEMINI_API_KEY": key,
    "GEMINI_CLI_NO_RELAUNCH": "true",
}
for name, value in environment.items():
    print(f"{name}={value}")
