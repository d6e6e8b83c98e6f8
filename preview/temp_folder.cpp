#include "preview/temp_folder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::preview {
namespace {

// Every step works relative to an open folder descriptor (openat, fstatat,
// unlinkat) and opens sub-folders with O_NOFOLLOW. A name that is swapped for a
// symbolic link between the look and the open therefore fails to open instead
// of leading the deletion somewhere else. The temporary path is shared by all
// users of the machine, so this is not a theoretical concern.
std::vector<std::string> EntryNames(int dirFd) {
  std::vector<std::string> names;
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return names;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// Depth is bounded by the descriptors one process may hold open: a folder
// nested deeper than that fails to open and stays.
void RemoveEntries(int dirFd) {
  for (const std::string& name : EntryNames(dirFd)) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        RemoveEntries(sub);
        ::close(sub);
      }
      ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(dirFd, name.c_str(), 0);
    }
  }
}

const QString kFolderName = QStringLiteral("BKFTmpOstrelv4");

QString SharedPlace() {
  QString base = QDir::tempPath();
  while (base.size() > 1 && base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base + QLatin1Char('/') + kFolderName;
}

QString PerUserPlace() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/')) {
    QString base = QFile::decodeName(runtime);
    while (base.size() > 1 && base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base + QLatin1Char('/') + kFolderName;
  }
  return QStringLiteral("/tmp/%1-%2").arg(kFolderName).arg(::geteuid());
}

// Whether the folder open at `fd` may hold the user's previews.
QString PrivateFolderProblem(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return QString::fromLocal8Bit(std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return QStringLiteral("it is not a folder");
  if (st.st_uid != ::geteuid()) return QStringLiteral("another user owns it");
  if ((st.st_mode & 07777) != 0700) {
    return QStringLiteral("others may use it (mode %1)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
  }
  return {};
}

// Opens `path` as a private folder, creating it when missing; -1 with the
// reason when it is not one.
int OpenPrivateFolder(const QString& path, QString* reason) {
  const QByteArray name = QFile::encodeName(path);
  if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
    *reason = QStringLiteral("cannot create \"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return -1;
  }
  const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *reason = QStringLiteral("cannot open \"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return -1;
  }
  const QString problem = PrivateFolderProblem(fd);
  if (!problem.isEmpty()) {
    ::close(fd);
    *reason = QStringLiteral("\"%1\" is not a private folder: %2").arg(path, problem);
    return -1;
  }
  return fd;
}

// Whether the shared place can be ours: free, or already a private folder of
// the user's (a symbolic link never is).
bool SharedPlaceUsable() {
  const QByteArray name = QFile::encodeName(SharedPlace());
  const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  const bool usable = PrivateFolderProblem(fd).isEmpty();
  ::close(fd);
  return usable;
}

// Removes the folder at `path` with its contents when it is the user's; only
// the link when it is a symbolic link.
void RemoveOwnFolder(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat st {};
  if (::lstat(name.constData(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    ::unlink(name.constData());
    return;
  }
  const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat opened {};
  if (::fstat(fd, &opened) == 0 && opened.st_uid == ::geteuid()) {
    RemoveEntries(fd);
    ::close(fd);
    ::rmdir(name.constData());
    return;
  }
  ::close(fd);
}

// One file name inside a folder: not empty, no '/', no NUL, not "." or
// "..", at most 255 bytes.
bool IsOneComponent(const QByteArray& name) {
  return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0') &&
         name.size() <= 255;
}

// The path with "..", "." and every symbolic link resolved; empty when any
// part of it is missing.
std::string ResolvedPath(const QString& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(QFile::encodeName(path).constData(), nullptr),
                                                             &std::free);
  return resolved != nullptr ? std::string(resolved.get()) : std::string();
}

}  // namespace

QString GetTempFolderPath() { return SharedPlaceUsable() ? SharedPlace() : PerUserPlace(); }

QString PrepareTempFolder(QString* reason) {
  QString why;
  if (SharedPlaceUsable()) {
    const int fd = OpenPrivateFolder(SharedPlace(), &why);
    if (fd >= 0) {
      ::close(fd);
      return SharedPlace();
    }
  }
  QString perUserWhy;
  const int fd = OpenPrivateFolder(PerUserPlace(), &perUserWhy);
  if (fd >= 0) {
    ::close(fd);
    return PerUserPlace();
  }
  if (reason != nullptr) *reason = why.isEmpty() ? perUserWhy : why + QStringLiteral("; ") + perUserWhy;
  return {};
}

int CreatePreviewFile(const QString& folder, const QString& name, QString* reason, int* error) {
  if (error != nullptr) *error = 0;
  const QByteArray file = QFile::encodeName(name);
  if (!IsOneComponent(file)) {
    if (reason != nullptr) *reason = QStringLiteral("\"%1\" is not a name a file can take here").arg(name);
    if (error != nullptr) *error = EINVAL;
    return -1;
  }
  QString why;
  const int dirFd = OpenPrivateFolder(folder, &why);
  if (dirFd < 0) {
    if (reason != nullptr) *reason = why;
    return -1;
  }
  const int fd = ::openat(dirFd, file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error != nullptr) *error = errno;
    if (reason != nullptr) {
      *reason = QStringLiteral("cannot create \"%1\": %2").arg(name, QString::fromLocal8Bit(std::strerror(errno)));
    }
  }
  ::close(dirFd);
  return fd;
}

bool RenamePreviewFile(const QString& folder, const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  if (!IsOneComponent(target)) return false;
  QString why;
  const int dirFd = OpenPrivateFolder(folder, &why);
  if (dirFd < 0) return false;
  const bool renamed = ::renameat2(dirFd, source.constData(), dirFd, target.constData(), RENAME_NOREPLACE) == 0;
  ::close(dirFd);
  return renamed;
}

bool IsFileInsideFolder(const QString& folder, const QString& path) {
  if (folder.isEmpty() || path.isEmpty()) return false;
  std::string inside = ResolvedPath(folder);
  const std::string file = ResolvedPath(path);
  if (inside.empty() || file.empty()) return false;
  // "/tmp/a" holds "/tmp/a/x", never "/tmp/ab/x".
  if (inside.back() != '/') inside += '/';
  if (file.compare(0, inside.size(), inside) != 0) return false;
  // stat, not open: it answers for a pipe at once.
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void DeleteFolderContents(const QString& folder) {
  const QByteArray path = QFile::encodeName(folder);
  const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  RemoveEntries(fd);
  ::close(fd);
}

void CleanTempFolder() {
  RemoveOwnFolder(SharedPlace());
  RemoveOwnFolder(PerUserPlace());
}

}  // namespace ostrel::preview
