#pragma once
// The file and process work of corvane-kit's subcommands: a staging folder
// that removes itself, copying a bundle's tree, writing files with their
// modes, finding ELF files and running the Debian tools.
#include <string>
#include <vector>

namespace corvane::kit {

// A fresh folder, removed with everything in it when the object goes: under
// the temporary folder, or beside `prefix` when it is a path.
class StagingFolder {
 public:
  explicit StagingFolder(const std::string& prefix);
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes `text` to `path` (its folders made as needed) with `mode`; throws
// std::runtime_error naming the path when it cannot.
void writeFile(const std::string& path, const std::string& text, unsigned mode = 0644);
std::string readFile(const std::string& path);  // throws like writeFile

// Copies the tree at `from` to `to`: symbolic links stay links (a link
// that is absolute or leaves the tree is refused), special files are
// refused; std::runtime_error or a filesystem error names the entry. Entries whose name (relative to
// `from`, "/"-separated) `skip` answers true for are left out.
void copyTree(const std::string& from, const std::string& to, bool (*skip)(const std::string& relative) = nullptr);

// What a package leaves out of an application bundle (a `copyTree` skip):
// the executable folder (the package puts the shell's launcher or the
// shell itself there) and version-control and desktop litter.
bool leftOutOfPackage(const std::string& relative);

// Gives every folder and executable file 0755 and every other file 0644,
// as Debian packages want them whatever the umask or the source's modes.
void normalizeModes(const std::string& root);

// Regular files below `root` that start with the ELF magic.
std::vector<std::string> elfFiles(const std::string& root);

// The disk space of the tree in KiB, as dpkg counts Installed-Size.
unsigned long long installedSizeKiB(const std::string& root);

// Runs a program (looked up on PATH) and waits. Answers its exit status
// (-1 when it could not be started or was killed); its standard output and
// error go to `out` and `err` when given.
int runTool(const std::vector<std::string>& argv, std::string* out = nullptr, std::string* err = nullptr,
            const std::string& workingFolder = "");

}  // namespace corvane::kit
