#pragma once

// Shared behaviour of the stand-in programs `whisper-server` and `ollama` (tests and demos
// only). Each is steered by environment variables, so the real command lines stay untouched:
//
//   VURIN_STAND_IN_DELAY_MS       wait this long before listening (a model that loads slowly)
//   VURIN_STAND_IN_MODE           serve (default) | exit (refuse to start: exit at once with
//                                 VURIN_STAND_IN_EXIT_CODE, default 1) | hang (run, never
//                                 listen) | silent (listen, never answer)
//   VURIN_STAND_IN_CRASH_AFTER_MS die by SIGKILL this long after listening
//   VURIN_STAND_IN_START_LOG      append one JSON line per start: pid, arguments, environment
//   VURIN_STAND_IN_REQUEST_LOG    append one JSON line per request: what came in, what went out
//   VURIN_STAND_IN_AUDIO_DIR      whisper-server: keep every uploaded audio file in this folder
//
// GET /stand-in/crash makes either stand-in die by SIGKILL at once, as a crash would.

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <string>

namespace vurin::standin {

std::string environmentValue(const char* name, const std::string& fallback = "");
long environmentNumber(const char* name, long fallback);

// Records the start, then applies the mode and the delay. Returns only when the program should
// go on to listen.
void prepare(const char* service, int argc, char** argv);

// Appends `record` (plus the service name) to the request log, if one is named.
void logRequest(nlohmann::json record);

// Adds the crash route, binds 127.0.0.1:`port` and serves until killed. A port already taken
// ends the program with status 1, as the real servers do. In silent mode nothing is answered.
[[noreturn]] void serve(httplib::Server& server, const std::string& host, int port);

// What a light-handed editor would make of a dictation: fillers dropped, spaces tidied, the
// first letter capitalised and a full stop supplied.
std::string lightlyCleaned(const std::string& text);

}  // namespace vurin::standin
