#include "engine/tool/command.h"

#include <algorithm>

#include "engine/storage/journal.h"

namespace bv::tool {

namespace {
std::vector<Command>& table() {
  static std::vector<Command> t;
  return t;
}
}  // namespace

Registration::Registration(Command c) {
  auto& t = table();
  auto pos = std::lower_bound(t.begin(), t.end(), c, [](const Command& a, const Command& b) {
    return std::string(a.name) < std::string(b.name);
  });
  t.insert(pos, std::move(c));
}

const std::vector<Command>& commands() { return table(); }

const Command* findCommand(const std::string& name) {
  for (const auto& c : table())
    if (name == c.name) return &c;
  return nullptr;
}

bool Args::takeOption(const std::string& name, std::string& value) {
  const std::string flag = "--" + name;
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string& a = all[i];
    if (a.rfind(flag + "=", 0) == 0) {
      value = a.substr(flag.size() + 1);
      all.erase(all.begin() + static_cast<long>(i));
    } else if (a == flag && i + 1 < all.size()) {
      value = all[i + 1];
      all.erase(all.begin() + static_cast<long>(i), all.begin() + static_cast<long>(i) + 2);
    } else {
      continue;
    }
    positional.clear();
    for (const auto& s : all)
      if (s.size() < 2 || s.rfind("--", 0) != 0) positional.push_back(s);
    return true;
  }
  return false;
}

bool Args::takeFlag(const std::string& name) {
  const std::string flag = "--" + name;
  auto it = std::find(all.begin(), all.end(), flag);
  if (it == all.end()) return false;
  all.erase(it);
  return true;
}

int usageError(const Command& cmd, const std::string& message) {
  std::fprintf(stderr, "brimvale %s: %s\n%s", cmd.name, message.c_str(), cmd.usage);
  return 2;
}

std::unique_ptr<storage::Database> openDatabase(const std::string& path, storage::OpenMode mode,
                                                const std::string& password) {
  // Every command, also one that only reads, first completes the undoing of a change that
  // was interrupted; where the file cannot be written, the read-only open explains why it
  // refuses the file.
  if (mode == storage::OpenMode::ReadOnly) {
    try {
      storage::restoreInterruptedChange(path);
    } catch (const JetError&) {
    }
  }
  return storage::Database::open(path, mode, storage::fromUtf8(password));
}

bool writeOut(const std::string& s) {
  return std::fwrite(s.data(), 1, s.size(), stdout) == s.size();
}

}  // namespace bv::tool
