// Guards of a run's result files. The writer chooses the final name (it may
// append the format's extension), so every name a result could take is
// watched: the name itself and the name with each format's extension. Files
// are told apart by device and inode, so "./x", links and relative paths to
// the input are all recognised.
#include "mca/mca_run_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "array/fatal.h"

namespace {

const char* const WriterExtensions[] = {"", ".fits", ".gif", ".pgm", ".jpg"};

const RunFiles* Armed = nullptr;

bool stat_of(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

long long mtime_ns(const struct stat& st) {
  return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace

RunFiles::RunFiles(const std::string& input, const std::vector<std::string>& outputs)
    : input_(input) {
  for (const std::string& name : outputs) {
    if (name == "-") continue;  // the standard output
    for (const char* extension : WriterExtensions) {
      Candidate c{name + extension, false, 0, 0, 0, 0};
      struct stat st;
      if (stat_of(c.path, st)) {
        c.existed = true;
        c.device = static_cast<long long>(st.st_dev);
        c.inode = static_cast<long long>(st.st_ino);
        c.size = static_cast<long long>(st.st_size);
        c.mtime_ns = mtime_ns(st);
      }
      candidates_.push_back(c);
    }
  }
}

void RunFiles::refuse_output_over_input() const {
  if (input_ == "-") return;
  for (const char* extension : WriterExtensions) {
    struct stat in;
    if (!stat_of(input_ + extension, in)) continue;
    for (const Candidate& c : candidates_)
      if (c.existed && c.device == static_cast<long long>(in.st_dev) &&
          c.inode == static_cast<long long>(in.st_ino))
        fatal_exitf(-1, stdout,
                    "Error: a result would overwrite the input image; choose another output "
                    "name ... (%s)\n",
                    c.path.c_str());
  }
}

void RunFiles::arm() {
  Armed = this;
  static bool registered = false;
  if (!registered) std::atexit(remove_on_exit);
  registered = true;
}

void RunFiles::commit() { Armed = nullptr; }

void RunFiles::remove_on_exit() {
  if (Armed != nullptr) Armed->remove_changed();
}

void RunFiles::remove_changed() const {
  for (const Candidate& c : candidates_) {
    struct stat st;
    if (!stat_of(c.path, st)) continue;
    const bool changed = !c.existed || c.device != static_cast<long long>(st.st_dev) ||
                         c.inode != static_cast<long long>(st.st_ino) ||
                         c.size != static_cast<long long>(st.st_size) || c.mtime_ns != mtime_ns(st);
    if (changed) std::remove(c.path.c_str());
  }
}
