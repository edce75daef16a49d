// Who runs the program and on which machine, from the password database and uname.
#include "platform/account_names.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <vector>

namespace {

// One field of the running user's password entry; empty when there is none.
template <typename Field>
std::string ReadAccountField(Field field) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  const char* value = found->*field;
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

std::string GetUserName() { return ReadAccountField(&passwd::pw_name); }

std::string GetAccountHomeFolder() {
  std::string home = ReadAccountField(&passwd::pw_dir);
  return home.starts_with('/') ? home : std::string();
}

std::string GetMachineName() {
  utsname names{};
  if (uname(&names) != 0) return {};
  return names.nodename;
}
