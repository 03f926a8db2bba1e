// The one symbol velk-speech.so exports; the program finds it with dlsym (see
// platform/SpeechModule.h, which names it).
#include "platform/speech/LinuxSpeechServices.h"

extern "C" __attribute__((visibility("default"))) SpeechServices* velk_speech_services_v1() {
    return makeLinuxSpeechServices().release();
}
