#include "preview/temp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
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

}  // namespace

QString GetTempFolderPath() {
  QString base = QDir::tempPath();
  while (base.size() > 1 && base.endsWith(QLatin1Char('/'))) base.chop(1);
  return base + QStringLiteral("/BKFTmpOstrelv4");
}

void DeleteFolderContents(const QString& folder) {
  const QByteArray path = QFile::encodeName(folder);
  const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  RemoveEntries(fd);
  ::close(fd);
}

void CleanTempFolder() {
  const QString folder = GetTempFolderPath();
  const QByteArray path = QFile::encodeName(folder);
  struct stat st {};
  if (::lstat(path.constData(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    ::unlink(path.constData());
    return;
  }
  if (!S_ISDIR(st.st_mode)) return;
  DeleteFolderContents(folder);
  ::rmdir(path.constData());
}

}  // namespace ostrel::preview
