// The files of one run of qz_mca: the input must never be among the results
// (a result named like the input, or derived to its name, would destroy it),
// and the results take their places together at the end, so that a run that
// fails part way leaves every file as it was. A result that could not be
// written is refused before the work starts.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class RunFiles {
 public:
  // outputs: the names the run will hand to the image writer, which may add
  // the format's extension, or for raw "disp" images the tag of their float
  // pixels and size (nl x nc, the size of the run's images). A name of the
  // standard output stands for the file it is redirected to. Made once the
  // input is read: the input is every file the image readers opened
  // (io/image_input_file.h).
  RunFiles(const std::vector<std::string>& outputs, int nl, int nc);

  // Outputs whose names the run chooses itself (debug images): over the
  // input, another result name would not help, and the refusal gives
  // `remedy` instead ("rename the input or leave out -w").
  void add_fixed_outputs(const std::vector<std::string>& outputs, const char* remedy);
  // Numbered outputs too, named by the run likewise: the files of the
  // working directory named after a stem, "_" and a multiple of step up to
  // last (with an extension as above).
  void watch_numbered(const std::vector<std::string>& stems, int step, int last, const char* remedy);

  // Stops with a message naming the file when an output would be the input,
  // or would go to a standard output redirected to it.
  void refuse_output_over_input() const;
  // Stops before the work, naming the file and the reason, when an output
  // (and the first of each numbered series) could not be written or put in
  // place: its folder is missing, closed to the run or append-only, or its
  // name is taken by a folder or by a file the run may not replace (another
  // user's file in a folder with the sticky bit), or it is a link that
  // leads to such a place or that another user made in a shared folder; or
  // when a name names no file ("", "sub/"). Leaves no file behind.
  void refuse_unwritable() const;
  // From here until commit(), outputs wait beside their places; commit()
  // puts them all in place. A process that ends before leaves none of them.
  void arm();
  void commit();

 private:
  // An existing file that a result could replace.
  struct Candidate {
    std::string path;
    dev_t device;
    ino_t inode;
    const char* remedy;  // of a refusal over the input
  };
  std::vector<std::string> outputs_;
  int nl_, nc_;
  std::vector<Candidate> candidates_;
  std::vector<std::string> numbered_stems_;
  int numbered_step_ = 0, numbered_last_ = 0;
  void add_candidate(const std::string& path, const char* remedy);
  // The file the writer makes of a result named `name`; empty for the
  // standard output.
  std::string written_file(const std::string& name) const;
  void add_output(const std::string& name, const char* remedy);
  bool is_numbered(const std::string& name) const;
  std::vector<std::string> numbered_in_directory() const;
};
