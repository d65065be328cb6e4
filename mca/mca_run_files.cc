// Guards of a run's result files. The writer chooses the final name (it may
// append the format's extension), so every name a result could take is
// watched: the name itself and the name with each format's extension. Files
// are told apart by device and inode, so "./x", links and relative paths to
// the input are all recognised.
// Raw "disp" results carry their pixel type and the image size in the name,
// and the -w snapshots an iteration number, so those names are watched too.
#include "mca/mca_run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "array/fatal.h"
#include "io/image_file.h"
#include "io/io_dispatch.h"

namespace {

const char* const WriterExtensions[] = {"", ".fits", ".gif", ".pgm", ".jpg"};

const RunFiles* Armed = nullptr;

bool stat_of(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

long long mtime_ns(const struct stat& st) {
  return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// The error that opening `file` to write it would meet, or 0. A file there
// is only looked at; a new one is created and removed again, which asks the
// system itself (folder missing or closed, name too long, read-only disk).
int creation_error(const std::string& file) {
  struct stat st;
  if (stat_of(file, st)) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return access(file.c_str(), W_OK) == 0 ? 0 : errno;
  }
  if (errno != ENOENT) return errno;
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  // EEXIST: a link to a file not yet there, which the writer will create.
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  close(fd);
  unlink(file.c_str());
  return 0;
}

}  // namespace

RunFiles::RunFiles(const std::string& input, const std::vector<std::string>& outputs, int nl,
                   int nc)
    : input_(input),
      outputs_(outputs),
      nl_(nl),
      nc_(nc),
      extensions_(std::begin(WriterExtensions), std::end(WriterExtensions)) {
  // The disp writer names a float image after its size.
  extensions_.push_back("_f_" + std::to_string(nl) + "_" + std::to_string(nc) + ".d");
  for (const std::string& name : outputs) {
    if (name == "-") continue;  // the standard output
    for (const std::string& extension : extensions_) add_candidate(name + extension);
  }
}

void RunFiles::add_candidate(const std::string& path) {
  Candidate c{path, false, 0, 0, 0, 0};
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

void RunFiles::watch_numbered(const std::vector<std::string>& stems, int step, int last) {
  numbered_stems_ = stems;
  numbered_step_ = step;
  numbered_last_ = last;
  for (const std::string& name : numbered_in_directory()) add_candidate(name);
}

bool RunFiles::is_numbered(const std::string& name) const {
  for (const std::string& stem : numbered_stems_) {
    if (name.compare(0, stem.size() + 1, stem + "_") != 0) continue;
    size_t end = stem.size() + 1;
    long long number = 0;
    // No leading zero: the writer prints the number in decimal.
    if (end >= name.size() || name[end] == '0') continue;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])) &&
           number <= numbered_last_)
      number = 10 * number + (name[end++] - '0');
    if (number > numbered_last_ || number % numbered_step_ != 0) continue;
    const std::string extension = name.substr(end);
    if (std::find(extensions_.begin(), extensions_.end(), extension) != extensions_.end())
      return true;
  }
  return false;
}

std::vector<std::string> RunFiles::numbered_in_directory() const {
  std::vector<std::string> names;
  if (numbered_stems_.empty() || numbered_step_ <= 0) return names;
  DIR* dir = opendir(".");
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir))
    if (is_numbered(entry->d_name)) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

void RunFiles::refuse_output_over_input() const {
  if (input_ == "-") return;
  for (const std::string& extension : extensions_) {
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

void RunFiles::refuse_unwritable() const {
  std::vector<std::string> names = outputs_;
  if (numbered_step_ > 0 && numbered_last_ >= numbered_step_)
    for (const std::string& stem : numbered_stems_)
      names.push_back(stem + "_" + std::to_string(numbered_step_));
  for (const std::string& name : names) {
    const std::string file = io_float_output_file(name.c_str(), nl_, nc_);
    if (file.empty()) continue;  // the standard output
    const int error = creation_error(file);
    if (error != 0)
      fatal_exitf(-1, stdout, "Error: cannot write a result file %s\n",
                  io_open_failure(name.c_str(), file, error).c_str());
  }
}

void RunFiles::arm() {
  Armed = this;
  static bool registered = false;
  if (!registered) at_process_end(remove_on_exit);
  registered = true;
}

void RunFiles::commit() { Armed = nullptr; }

void RunFiles::remove_on_exit() {
  if (Armed != nullptr) Armed->remove_changed();
}

void RunFiles::remove_changed() const {
  // Numbered files the run created are not among the candidates.
  for (const std::string& name : numbered_in_directory()) {
    const bool known = std::any_of(candidates_.begin(), candidates_.end(),
                                   [&](const Candidate& c) { return c.path == name; });
    if (!known) std::remove(name.c_str());
  }
  for (const Candidate& c : candidates_) {
    struct stat st;
    if (!stat_of(c.path, st)) continue;
    const bool changed = !c.existed || c.device != static_cast<long long>(st.st_dev) ||
                         c.inode != static_cast<long long>(st.st_ino) ||
                         c.size != static_cast<long long>(st.st_size) || c.mtime_ns != mtime_ns(st);
    if (changed) std::remove(c.path.c_str());
  }
}
