// Guards of a run's result files. The writer chooses the final name (it may
// append the format's extension), so every name a result could take is
// watched: the name itself and the name with each format's extension. Files
// are told apart by device and inode, so "./x", links and relative paths to
// the input are all recognised. The input is the file its reader opens: a
// library prefix or HDU selector taken off, a compressed sibling, or the
// standard input redirected from a file.
// Raw "disp" results carry their pixel type and the image size in the name,
// and the -w snapshots an iteration number, so those names are watched too.
#include "mca/mca_run_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "array/fatal.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/io_dispatch.h"
#include "io/output_file.h"

namespace {

const char* const WriterExtensions[] = {"", ".fits", ".gif", ".pgm", ".jpg"};

bool stat_of(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

}  // namespace

RunFiles::RunFiles(const std::string& input, const std::vector<std::string>& outputs, int nl,
                   int nc)
    : outputs_(outputs),
      nl_(nl),
      nc_(nc),
      extensions_(std::begin(WriterExtensions), std::end(WriterExtensions)) {
  // The disp writer names a float image after its size.
  extensions_.push_back("_f_" + std::to_string(nl) + "_" + std::to_string(nc) + ".d");
  for (const std::string& name : outputs) {
    if (name == "-") continue;  // the standard output
    for (const std::string& extension : extensions_) add_candidate(name + extension);
  }
  // The file actually read, whatever prefix, selector, added extension or
  // compressed sibling led the reader to it.
  struct stat read_from;
  input_is_file_ = io_input_file_status(input.c_str(), read_from);
  if (input_is_file_) {
    input_device_ = static_cast<long long>(read_from.st_dev);
    input_inode_ = static_cast<long long>(read_from.st_ino);
  }
}

// stat follows links: a result replaces the file at the end of the chain.
void RunFiles::add_candidate(const std::string& path) {
  struct stat st;
  if (stat_of(path, st))
    candidates_.push_back({path, static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino)});
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
  if (!input_is_file_) return;
  for (const Candidate& c : candidates_)
    if (c.device == input_device_ && c.inode == input_inode_)
      fatal_exitf(-1, stdout,
                  "Error: a result would overwrite the input image; choose another output "
                  "name ... (%s)\n",
                  c.path.c_str());
}

void RunFiles::refuse_unwritable() const {
  std::vector<std::string> names = outputs_;
  if (numbered_step_ > 0 && numbered_last_ >= numbered_step_)
    for (const std::string& stem : numbered_stems_)
      names.push_back(stem + "_" + std::to_string(numbered_step_));
  // Names the writer would refuse first: the given name that names no file
  // is reported as such, not through a result derived from it.
  std::vector<std::string> files;
  for (const std::string& name : names) files.push_back(io_float_output_file(name.c_str(), nl_, nc_));
  for (std::size_t k = 0; k < names.size(); k++) {
    if (files[k].empty()) continue;  // the standard output
    const std::string refusal = io_output_refusal(names[k].c_str(), files[k]);
    if (!refusal.empty()) fatal_exitf(-1, stdout, "Error: cannot write a result file %s\n", refusal.c_str());
  }
}

void RunFiles::arm() { io_hold_outputs(); }

void RunFiles::commit() { io_commit_outputs(); }
