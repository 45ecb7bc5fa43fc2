// Run-time loading of shared libraries by name, as the link and the diagram
// loader use it: names written for the original platform ("Codecs\X.dll")
// are mapped to this system's files before they are opened.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Maps a file name from a board list or diagram to a path on this system:
// '\' becomes '/', and a path component that does not exist is matched
// case-insensitively against its directory. Returns the mapped path
// (unchanged components where nothing matches).
std::string MapPath(const std::string& name);

// The candidate files for a library name, in the order they are tried:
// "X.dll" becomes "libX.so" then "X.so" (beside each other); a bare name is
// looked for in the program's directory, then in the current directory; a
// relative path in the current directory, then under the program's
// directory (where the build puts the plug-in modules, "Codecs/").
std::vector<std::string> LibraryCandidates(const std::string& name);

// A loaded library. Never unloaded while an object of it may still run:
// the owner frees it only after stopping everything that calls into it.
class TLibrary {
 public:
  TLibrary() = default;
  ~TLibrary();
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;

  // Loads the library; false (with Error() set) when no candidate loads.
  bool Load(const std::string& name);
  void Free();
  bool Loaded() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Resolve(const char* symbol) const;
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

// A library loaded for good (a diagram page's plug-in): never unloaded, so
// nothing of it can run after it is gone. Null (with `error` set) when no
// candidate loads. Loading the same library again gives the same handle.
void* LoadModule(const std::string& name, std::string* error = nullptr);
// The address of an exported symbol of a LoadModule handle, or null.
void* ResolveSymbol(void* module, const char* symbol);

// Directory of the running program, with a trailing '/'.
std::string ProgramDirectory();

}  // namespace platform
