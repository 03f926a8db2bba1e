#pragma once

#include "core/base/Result.h"
#include "core/companion/SpeechServices.h"

#include <QStringList>

// Dictation and read-aloud live in a module of their own (velk-speech.so), so the program
// starts without loading Qt Multimedia, Qt TextToSpeech and pocketsphinx. The module is
// opened the first time the companion listens or speaks.

// The function the module exports: new services, owned by the caller.
inline constexpr char kSpeechModuleEntry[] = "velk_speech_services_v1";
using SpeechModuleEntry = SpeechServices* (*)();

// Where the module is looked for, in order: $VELK_SPEECH_MODULE when set, else beside the
// executable (the build tree), else ../lib/velk/ from it (the installed layout).
QStringList speechModuleCandidates();

// Opens the first candidate that exists and asks it for services. The error says which file
// was tried and why it did not load.
Result<std::unique_ptr<SpeechServices>> loadSpeechModule(const QStringList& candidates);

// Services that open the module on the first dictation or reading. Until then stopping the
// microphone or the voice does nothing; when the module does not load, every dictation and
// reading is refused with the reason.
std::unique_ptr<SpeechServices> makeSpeechServicesOnFirstUse(QStringList candidates);
