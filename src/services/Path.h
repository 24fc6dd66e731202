#pragma once
// The `path` member: well-known folders, path checks and file-name parts.
// No state of its own: every answer is computed through Utils on request,
// so it follows the current state of the disk and the configuration.
#include "bridge/ServiceObject.h"

#include <string>

namespace corvane {

class Path : public ServiceObject {
 public:
  const ServiceClass& serviceClass() const override;
  // Runs the folder queries once, which exports their environment variables.
  void printInfo() const;

  std::string application() const;
  std::string resource() const;
  std::string homeDir() const;
  std::string documentsDir() const;
  std::string libraryDir() const;
  std::string tempDir() const;
  std::string cacheDir() const;
  std::string applicationDir() const;
  std::string desktopDir() const;
  std::string downloadDir() const;
  std::string moviesDir() const;
  std::string musicDir() const;
  std::string picturesDir() const;
  std::string applicationName() const;
  std::string userName() const;
  std::string userFullName() const;
  std::string localDocumentsDir() const;
  std::string localMoviesDir() const;
  std::string localMusicDir() const;
  std::string localPicturesDir() const;
  std::string localDownloadDir() const;
  std::string localDesktopDir() const;
  std::string localLibraryDir() const;
  std::string appWriteableDocumentDir() const;
  std::string appWriteableDownloadDir() const;
  std::string appWriteableMoviesDir() const;
  std::string appWriteableMusicDir() const;
  std::string appWriteablePicturesDir() const;
  std::string appPluginDirPath() const;
  std::string appUIDirPath() const;
  std::string appDataHomeDir() const;

  bool pathIsExist(const std::string& path) const;
  bool fileIsZeroSize(const std::string& path) const;
  bool checkPathIsWritable(const std::string& path) const;
  bool checkPathIsReadable(const std::string& path) const;
  bool checkPathIsExecutable(const std::string& path) const;
  bool checkPathIsDeletable(const std::string& path) const;
  bool checkPathIsFile(const std::string& path) const;
  bool checkPathIsDir(const std::string& path) const;

  std::string getATempFilePath(const std::string& path) const;
  std::string getFileName(const std::string& path) const;
  std::string getFileNameWithoutExt(const std::string& path) const;
  std::string getFileExt(const std::string& path) const;
  std::string getPathParentPath(const std::string& path) const;
  std::string getFilePropertyJSONString(const std::string& path) const;
  std::string getFileOrDirIconPath(const std::string& path) const;
  std::string getUpdateEnvString(const std::string& path) const;
};

}  // namespace corvane
