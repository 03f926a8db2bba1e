#pragma once

#include "core/companion/SpeechServices.h"

// Dictation and read-aloud on Linux: the default input device through QtMultimedia,
// pocketsphinx for recognition, QTextToSpeech for voices. The microphone "permission" is
// granted when a default input device exists and opens; recognition is "authorised" when
// the pocketsphinx model is installed. Create and use on the main thread.
std::unique_ptr<SpeechServices> makeLinuxSpeechServices();

// Where the pocketsphinx models are looked for.
QString pocketSphinxModelFolder();
