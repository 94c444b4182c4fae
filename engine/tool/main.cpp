// brimvale: the native command-line tool over the engine. Commands register themselves
// (command.h); this file only dispatches.
#include <cstdio>
#include <cstring>
#include <exception>

#include "engine/storage/error.h"
#include "engine/tool/command.h"

namespace {

void printOverview(std::FILE* f) {
  std::fprintf(f,
               "usage: brimvale COMMAND [ARGS...]\n"
               "       brimvale COMMAND --help\n\n"
               "Reads and changes Microsoft Access databases (.mdb, Jet 3 and Jet 4).\n\n"
               "commands:\n");
  for (const auto& c : bv::tool::commands()) std::fprintf(f, "  %-10s %s\n", c.name, c.summary);
}

bool isHelp(const char* a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printOverview(stderr);
    return 2;
  }
  if (isHelp(argv[1]) || std::strcmp(argv[1], "help") == 0) {
    if (argc >= 3 && !isHelp(argv[2])) {
      if (const auto* c = bv::tool::findCommand(argv[2])) {
        std::fputs(c->usage, stdout);
        return 0;
      }
    }
    printOverview(stdout);
    return 0;
  }
  const bv::tool::Command* cmd = bv::tool::findCommand(argv[1]);
  if (!cmd) {
    std::fprintf(stderr, "brimvale: unknown command '%s'\n\n", argv[1]);
    printOverview(stderr);
    return 2;
  }
  bv::tool::Args args;
  for (int i = 2; i < argc; ++i) {
    if (isHelp(argv[i])) {
      std::fputs(cmd->usage, stdout);
      return 0;
    }
    args.all.emplace_back(argv[i]);
    if (std::strlen(argv[i]) < 2 || std::strncmp(argv[i], "--", 2) != 0)
      args.positional.emplace_back(argv[i]);
  }
  try {
    int rc = cmd->run(args);
    if (std::fflush(stdout) != 0) {
      std::fprintf(stderr, "brimvale: cannot write the output\n");
      return 1;
    }
    return rc;
  } catch (const bv::JetError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "brimvale: error %d: %s\n", static_cast<int>(e.number()), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "brimvale: %s\n", e.what());
    return 1;
  }
}
