// avtool: the command-line companion of the player. Each command lives in its
// own file and registers itself here, so commands can be added without
// touching the dispatcher.
#pragma once

#include <cstdint>
#include <string>

#include "engine/av_engine.h"

namespace trevolo::avtool {

// argv[0] is the command name; returns the process exit status.
using CommandFn = int (*)(int argc, char** argv);

struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* usage, CommandFn fn);
};

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;  // missing, unreadable or invalid input
inline constexpr int kExitUsage = 2;

// Runs the command registered as `name` with argv[0] = name; kExitUsage with a
// message when this build has no such command.
int RunCommand(const char* name, int argc, char** argv);

// Prints "avtool NAME: message" on stderr and returns kExitError.
int Fail(const char* command, const std::string& message);

// Checks that `path` names a readable regular file that holds at least one
// .av record marker; on failure prints the reason and returns false.
bool CheckAvFile(const char* command, const std::string& path);

// Decoders that `avtool play --decoders NAME` puts behind the engine.
// "null" is built in; other sets register themselves.
struct DecoderBackend {
  const char* name;
  int (*init)();
  int (*exit)();
  int (*audioDecode)(const uint8_t* frame, uint8_t* pcmOut320);
  int (*videoDecode)(const uint8_t* data, uint32_t length, uint64_t timeStamp, YuvFrame* frame);
  // Size of the picture the last successful videoDecode described.
  void (*pictureSize)(int* width, int* height);
};
struct DecoderBackendRegistrar {
  explicit DecoderBackendRegistrar(const DecoderBackend* backend);
};
const DecoderBackend* FindDecoderBackend(const std::string& name);

}  // namespace trevolo::avtool
