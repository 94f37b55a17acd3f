#include "app/file_writing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cerrno>
#include <system_error>

namespace ku {

std::string writeTemporaryFile(const std::string& folder, const std::string& prefix,
                               const QByteArray& text, mode_t mode) {
  std::string path = folder + "/" + prefix + "XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) throw std::system_error(errno, std::generic_category());
  const char* p = text.constData();
  std::size_t left = static_cast<std::size_t>(text.size());
  int err = 0;
  while (left > 0 && err == 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno != EINTR) err = errno;
    } else {
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  // A file system may take the text and only find at the flush that it has no room.
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(path.c_str());
    throw std::system_error(err, std::generic_category());
  }
  return path;
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void writeWholeFile(const std::string& path, const QByteArray& text, mode_t mode) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const std::string temporary = writeTemporaryFile(folder, ".ku-", text, mode);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(err, std::generic_category());
  }
  syncFolder(folder);
}

}  // namespace ku
