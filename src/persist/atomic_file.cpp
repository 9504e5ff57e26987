#include "persist/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/errors.h"

namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, int err) {
  throw EInOutError(Format("Cannot write %s: %s", path.c_str(), std::strerror(err)));
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Writes, syncs and closes fd; on failure returns errno with fd closed.
int Finish(int fd, std::string_view bytes) {
  int err = 0;
  if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

void WriteInPlace(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) RaiseWriteError(path, errno);
  if (int err = Finish(fd, bytes)) RaiseWriteError(path, err);
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  struct stat old {};
  const bool exists = ::lstat(path.c_str(), &old) == 0;
  if (exists && S_ISLNK(old.st_mode)) return WriteInPlace(path, bytes);

  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int err = errno;
    if (exists && S_ISREG(old.st_mode) && (err == EACCES || err == EPERM)) return WriteInPlace(path, bytes);
    RaiseWriteError(path, err);
  }
  if (exists && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
  if (int err = Finish(fd, bytes)) {
    ::unlink(tmp.c_str());
    RaiseWriteError(path, err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    RaiseWriteError(path, err);
  }
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}
