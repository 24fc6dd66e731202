#include "services/Path.h"

#include "app/Utils.h"

namespace corvane {

namespace {
Utils& u() { return Utils::sharedInstance(); }
}  // namespace

std::string Path::application() const { return u().path_get_application(); }
std::string Path::resource() const { return u().path_get_resource(); }
std::string Path::homeDir() const { return u().path_get_homeDir(); }
std::string Path::documentsDir() const { return u().path_get_documentsDir(); }
std::string Path::libraryDir() const { return u().path_get_libraryDir(); }
std::string Path::tempDir() const { return u().path_get_tempDir(); }
std::string Path::cacheDir() const { return u().path_get_cacheDir(); }
std::string Path::applicationDir() const { return u().path_get_applicationDir(); }
std::string Path::desktopDir() const { return u().path_get_desktopDir(); }
std::string Path::downloadDir() const { return u().path_get_downloadDir(); }
std::string Path::moviesDir() const { return u().path_get_moviesDir(); }
std::string Path::musicDir() const { return u().path_get_musicDir(); }
std::string Path::picturesDir() const { return u().path_get_picturesDir(); }
std::string Path::applicationName() const { return u().path_get_applicationName(); }
std::string Path::userName() const { return u().path_get_userName(); }
std::string Path::userFullName() const { return u().path_get_userFullName(); }
std::string Path::localDocumentsDir() const { return u().path_get_localDocumentsDir(); }
std::string Path::localMoviesDir() const { return u().path_get_localMoviesDir(); }
std::string Path::localMusicDir() const { return u().path_get_localMusicDir(); }
std::string Path::localPicturesDir() const { return u().path_get_localPicturesDir(); }
std::string Path::localDownloadDir() const { return u().path_get_localDownloadDir(); }
std::string Path::localDesktopDir() const { return u().path_get_localDesktopDir(); }
std::string Path::localLibraryDir() const { return u().path_get_localLibraryDir(); }
std::string Path::appWriteableDocumentDir() const { return u().path_get_appWriteableDocumentDir(); }
std::string Path::appWriteableDownloadDir() const { return u().path_get_appWriteableDownloadDir(); }
std::string Path::appWriteableMoviesDir() const { return u().path_get_appWriteableMoviesDir(); }
std::string Path::appWriteableMusicDir() const { return u().path_get_appWriteableMusicDir(); }
std::string Path::appWriteablePicturesDir() const { return u().path_get_appWriteablePicturesDir(); }
std::string Path::appPluginDirPath() const { return u().path_get_appPluginDirPath(); }
std::string Path::appUIDirPath() const { return u().path_get_appUIDirPath(); }
std::string Path::appDataHomeDir() const { return u().getAppDataHomeDir(); }

bool Path::pathIsExist(const std::string& p) const { return Utils::checkPathisExists(p); }
bool Path::fileIsZeroSize(const std::string& p) const { return Utils::fileIsZeroSize(p); }
bool Path::checkPathIsWritable(const std::string& p) const { return Utils::checkPathIsWritable(p); }
bool Path::checkPathIsReadable(const std::string& p) const { return Utils::checkPathIsReadable(p); }
bool Path::checkPathIsExecutable(const std::string& p) const { return Utils::checkPathIsExecutable(p); }
bool Path::checkPathIsDeletable(const std::string& p) const { return Utils::checkPathIsDeletable(p); }
bool Path::checkPathIsFile(const std::string& p) const { return Utils::checkPathIsFile(p); }
bool Path::checkPathIsDir(const std::string& p) const { return Utils::checkPathIsDir(p); }

std::string Path::getATempFilePath(const std::string& p) const { return u().getATempFilePath(p); }
std::string Path::getFileName(const std::string& p) const { return Utils::getFileName(p); }
std::string Path::getFileNameWithoutExt(const std::string& p) const { return Utils::getFileNameWithoutExt(p); }
std::string Path::getFileExt(const std::string& p) const { return Utils::getFileExt(p); }
std::string Path::getPathParentPath(const std::string& p) const { return Utils::getPathParentPath(p); }
std::string Path::getFilePropertyJSONString(const std::string& p) const { return Utils::getFilePropertyJSONString(p); }
std::string Path::getFileOrDirIconPath(const std::string& p) const { return u().getFileOrDirIconPath(p); }
std::string Path::getUpdateEnvString(const std::string& p) const {
  return p.empty() ? std::string() : u().update_env_string(p);
}

void Path::printInfo() const {
  // Every folder query but the desktop one, in this order; the answers
  // only matter for the environment variables they set.
  Utils::OneSandboxLine oneLine;
  for (auto query : {&Path::application, &Path::resource, &Path::homeDir, &Path::documentsDir, &Path::libraryDir, &Path::tempDir, &Path::cacheDir, &Path::downloadDir, &Path::moviesDir, &Path::musicDir, &Path::picturesDir, &Path::applicationDir, &Path::applicationName, &Path::userName, &Path::userFullName, &Path::localDocumentsDir, &Path::localMoviesDir, &Path::localMusicDir, &Path::localPicturesDir, &Path::localDownloadDir, &Path::localDesktopDir, &Path::localLibraryDir, &Path::appWriteableDocumentDir, &Path::appWriteableDownloadDir, &Path::appWriteableMoviesDir, &Path::appWriteableMusicDir, &Path::appWriteablePicturesDir, &Path::appPluginDirPath, &Path::appUIDirPath, &Path::appDataHomeDir})
    (this->*query)();
}

const ServiceClass& Path::serviceClass() const {
  // All methods visible, no field; the names are the fixed table.
  static const ServiceClass cls = ServiceClass::Builder<Path>("Path")
      .method("application", &Path::application)
      .method("resource", &Path::resource)
      .method("homeDir", &Path::homeDir)
      .method("documentsDir", &Path::documentsDir)
      .method("libraryDir", &Path::libraryDir)
      .method("tempDir", &Path::tempDir)
      .method("cacheDir", &Path::cacheDir)
      .method("applicationDir", &Path::applicationDir)
      .method("desktopDir", &Path::desktopDir)
      .method("downloadDir", &Path::downloadDir)
      .method("moviesDir", &Path::moviesDir)
      .method("musicDir", &Path::musicDir)
      .method("picturesDir", &Path::picturesDir)
      .method("applicationName", &Path::applicationName)
      .method("userName", &Path::userName)
      .method("userFullName", &Path::userFullName)
      .method("localDocumentsDir", &Path::localDocumentsDir)
      .method("localMoviesDir", &Path::localMoviesDir)
      .method("localMusicDir", &Path::localMusicDir)
      .method("localPicturesDir", &Path::localPicturesDir)
      .method("localDownloadDir", &Path::localDownloadDir)
      .method("localDesktopDir", &Path::localDesktopDir)
      .method("localLibraryDir", &Path::localLibraryDir)
      .method("appWriteableDocumentDir", &Path::appWriteableDocumentDir)
      .method("appWriteableDownloadDir", &Path::appWriteableDownloadDir)
      .method("appWriteableMoviesDir", &Path::appWriteableMoviesDir)
      .method("appWriteableMusicDir", &Path::appWriteableMusicDir)
      .method("appWriteablePicturesDir", &Path::appWriteablePicturesDir)
      .method("appPluginDirPath", &Path::appPluginDirPath)
      .method("appUIDirPath", &Path::appUIDirPath)
      .method("appDataHomeDir", &Path::appDataHomeDir)
      .method("pathIsExist:", &Path::pathIsExist)
      .method("fileIsZeroSize:", &Path::fileIsZeroSize)
      .method("checkPathIsWritable:", &Path::checkPathIsWritable)
      .method("checkPathIsReadable:", &Path::checkPathIsReadable)
      .method("checkPathIsExecutable:", &Path::checkPathIsExecutable)
      .method("checkPathIsDeletable:", &Path::checkPathIsDeletable)
      .method("checkPathIsFile:", &Path::checkPathIsFile)
      .method("checkPathIsDir:", &Path::checkPathIsDir)
      .method("getATempFilePath:", &Path::getATempFilePath)
      .method("getFileName:", &Path::getFileName)
      .method("getFileNameWithoutExt:", &Path::getFileNameWithoutExt)
      .method("getFileExt:", &Path::getFileExt)
      .method("getPathParentPath:", &Path::getPathParentPath)
      .method("getFilePropertyJSONString:", &Path::getFilePropertyJSONString)
      .method("getFileOrDirIconPath:", &Path::getFileOrDirIconPath)
      .method("getUpdateEnvString:", &Path::getUpdateEnvString)
      .scriptNames({
          {"application", "application"},
          {"resource", "resource"},
          {"homeDir", "homeDir"},
          {"documentsDir", "documentsDir"},
          {"libraryDir", "libraryDir"},
          {"tempDir", "tempDir"},
          {"cacheDir", "cacheDir"},
          {"applicationDir", "applicationDir"},
          {"desktopDir", "desktopDir"},
          {"downloadDir", "downloadDir"},
          {"moviesDir", "moviesDir"},
          {"musicDir", "musicDir"},
          {"picturesDir", "picturesDir"},
          {"applicationName", "applicationName"},
          {"userName", "userName"},
          {"userFullName", "userFullName"},
          {"localDocumentsDir", "localDocumentsDir"},
          {"localMoviesDir", "localMoviesDir"},
          {"localMusicDir", "localMusicDir"},
          {"localPicturesDir", "localPicturesDir"},
          {"localDownloadDir", "localDownloadDir"},
          {"localDesktopDir", "localDesktopDir"},
          {"localLibraryDir", "localLibraryDir"},
          {"appWriteableDocumentDir", "appWriteableDocumentDir"},
          {"appWriteableDownloadDir", "appWriteableDownloadDir"},
          {"appWriteableMoviesDir", "appWriteableMoviesDir"},
          {"appWriteableMusicDir", "appWriteableMusicDir"},
          {"appWriteablePicturesDir", "appWriteablePicturesDir"},
          {"appPluginDirPath", "appPluginDirPath"},
          {"appUIDirPath", "appUIDirPath"},
          {"appDataHomeDir", "appDataHomeDir"},
          {"pathIsExist:", "pathIsExist"},
          {"fileIsZeroSize:", "fileIsZeroSize"},
          {"checkPathIsWritable:", "checkPathIsWritable"},
          {"checkPathIsReadable:", "checkPathIsReadable"},
          {"checkPathIsExecutable:", "checkPathIsExecutable"},
          {"checkPathIsDeletable:", "checkPathIsDeletable"},
          {"checkPathIsFile:", "checkPathIsFile"},
          {"checkPathIsDir:", "checkPathIsDir"},
          {"getATempFilePath:", "getNewTempFilePath"},
          {"getFileName:", "getFileName"},
          {"getFileNameWithoutExt:", "getFileNameWithoutExt"},
          {"getFileExt:", "getFileExt"},
          {"getPathParentPath:", "getPathParentPath"},
          {"getFilePropertyJSONString:", "getFilePropertyJSONString"},
          {"getFileOrDirIconPath:", "getFileOrDirIconPath"},
          {"getUpdateEnvString:", "getUpdateEnvString"},
      })
      .build();
  return cls;
}

}  // namespace corvane
