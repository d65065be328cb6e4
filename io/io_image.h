// The abstract image reader/writer and the raw "disp" format: files without a
// header whose names carry the pixel type and size (stem_f_Nl_Nc.d), holding
// Nl x Nc big-endian values line after line.
#pragma once

#include <complex>
#include <cstdio>
#include <string>

#include "array/to_array.h"
#include "io/image_names.h"

class io_image {
 public:
  void* buffer = nullptr;  // pixels in the stored type, valid during one operation
  int Nl = 0;
  int Nc = 0;
  ::type_data type_data = T_UNKNOWN;

  io_image() = default;
  virtual void read_ima_int(const char* name, to_array<int, false>& Ima) {}
  virtual void write_ima_int(const char* name, to_array<int, false>& Ima) {}
  virtual void read_ima_float(const char* name, to_array<float, false>& Ima) {}
  virtual void write_ima_float(const char* name, to_array<float, false>& Ima) {}
  virtual void read_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {}
  virtual void write_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {}
  virtual ~io_image() = default;
};

class io_disp : public virtual io_image {
 public:
  ~io_disp() override = default;
  void read_ima_int(const char* name, to_array<int, false>& Ima) override;
  void write_ima_int(const char* name, to_array<int, false>& Ima) override;
  void read_ima_float(const char* name, to_array<float, false>& Ima) override;
  void write_ima_float(const char* name, to_array<float, false>& Ima) override;
  void read_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) override;
  void write_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) override;

  // type_data from the first tag found in the file's own name, tested in the
  // order _i_ _f_ _d_ _cf_ _cd_ _b_ _s_; 7 when there is none.
  void read_type(const char* name);
  // Nl and Nc from the name for the current type; nothing for type 7.
  void read_size(const char* name);
  // Stages Nl x Nc stored values of the current type (as big-endian bytes)
  // in buffer; the caller releases it with free_buffer.
  void read_ima(const char* name);
  void read_info_ima(const char* name, int& Nl, int& Nc, ::type_data& type);
  // The rectangle of Ima's size whose first pixel is line Indi, column Indj
  // of the file; it must lie inside the image.
  void read_block_ima(const char* name, to_array<float, false>& Ima, int Indi, int Indj);
  void read_block_ima(const char* name, to_array<int, false>& Ima, int Indi, int Indj);
  void write_block_ima(const char* name, to_array<float, false>& Ima, int Indi, int Indj);
  void write_block_ima(const char* name, to_array<int, false>& Ima, int Indi, int Indj);
  // An empty file under the composed name of the current type and size.
  void create_file(const char* name);
  // Writes buffer (big-endian bytes of the current type) as Nl x Nc values.
  void write_ima(const char* name);
};

extern io_disp IO_DISP;

std::FILE* disp_file_des_in(const char* name);
std::FILE* disp_file_des_out(const char* name);

// Size following the tag of each type, as in "_f_%d_%d.d"; both sizes must
// be positive and their product must fit an image.
void read_size_b(const char* name, int* Nl, int* Nc);
void read_size_s(const char* name, int* Nl, int* Nc);
void read_size_i(const char* name, int* Nl, int* Nc);
void read_size_f(const char* name, int* Nl, int* Nc);
void read_size_d(const char* name, int* Nl, int* Nc);
void read_size_cf(const char* name, int* Nl, int* Nc);
void read_size_cd(const char* name, int* Nl, int* Nc);

// Bytes per stored value of a pixel type (0 for 7).
int disp_pixel_bytes(type_data type);
// The file name the writers use: name itself when it ends in ".d", else
// name + "_<tag>_<Nl>_<Nc>.d".
std::string disp_file_name(const char* name, type_data type, int Nl, int Nc);

// The file a writer of an Nl x Nc image of pixel type own makes for name,
// and the type stored in it. A name ending in ".d" is the file and gives the
// type; it is refused when it gives none ("Error writting in file"), or a
// size other than Nl x Nc: such a file would read back as another image.
struct disp_output {
  std::string file;
  type_data stored;
};
disp_output disp_output_file(const char* name, type_data own, int Nl, int Nc);
