// File copy through an atomic replacement of the destination, and whole-file reading.
#include "platform/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/atomic_file.h"

bool CopyFile(const std::string& from, const std::string& to) {
  int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  CTempFile temp(to);
  bool copied = temp.IsCreated();
  char buffer[65536];
  while (copied) {
    ssize_t count = read(source, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      copied = count == 0;
      break;
    }
    copied = temp.Append(std::string_view(buffer, static_cast<std::size_t>(count)));
  }
  int error = errno;
  close(source);
  errno = error;
  return copied && temp.Commit();
}

std::string ReadFileContent(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
