#include "tools/avtool.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace trevolo::avtool {
namespace {

struct Entry {
  const char* usage;
  CommandFn fn;
};

std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

std::map<std::string, const DecoderBackend*>& Backends() {
  static std::map<std::string, const DecoderBackend*> backends;
  return backends;
}

void PrintUsage() {
  std::fprintf(stderr, "usage: avtool COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& [name, e] : Commands()) std::fprintf(stderr, "  %s\n", e.usage);
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, const char* usage, CommandFn fn) {
  Commands()[name] = Entry{usage, fn};
}

DecoderBackendRegistrar::DecoderBackendRegistrar(const DecoderBackend* backend) {
  Backends()[backend->name] = backend;
}

const DecoderBackend* FindDecoderBackend(const std::string& name) {
  auto it = Backends().find(name);
  return it == Backends().end() ? nullptr : it->second;
}

int RunCommand(const char* name, int argc, char** argv) {
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "avtool: this build has no '%s'\n", name);
    return kExitUsage;
  }
  return it->second.fn(argc, argv);
}

int Fail(const char* command, const std::string& message) {
  std::fprintf(stderr, "avtool %s: %s\n", command, message.c_str());
  return kExitError;
}

bool CheckAvFile(const char* command, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Fail(command, path + ": no such file");
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(command, path + ": not a regular file");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(command, path + ": cannot be read");
    return false;
  }
  // A recording is a sequence of records; one marker (three or more 0xFF
  // then 0x88) anywhere in the file is the least it must have.
  char buf[65536];
  int run = 0;
  while (in) {
    in.read(buf, sizeof buf);
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      const auto b = static_cast<unsigned char>(buf[i]);
      if (b == 0xFF) {
        run = run < 3 ? run + 1 : 3;
      } else if (b == 0x88 && run == 3) {
        return true;
      } else {
        run = 0;
      }
    }
  }
  if (in.bad()) {
    Fail(command, path + ": read error");
    return false;
  }
  Fail(command, path + ": not an .av recording (no record marker found)");
  return false;
}

}  // namespace trevolo::avtool

int main(int argc, char** argv) {
  using namespace trevolo::avtool;
  if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
    PrintUsage();
    return argc < 2 ? kExitUsage : kExitOk;
  }
  auto it = Commands().find(argv[1]);
  if (it == Commands().end()) {
    std::fprintf(stderr, "avtool: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return kExitUsage;
  }
  return it->second.fn(argc - 1, argv + 1);
}
