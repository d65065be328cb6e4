// JPEG reading and writing over libjpeg. A library error while reading ends
// in our handler, which releases the decoder, closes the file and stops the
// process with a message naming it. The handler ends the process itself
// instead of jumping back to a recovery point: every caller of the reader
// stops on the error anyway, and most library errors arise while scanlines
// are read, after startread (where such a point would be set) has returned,
// so a jump back there would land in a finished call. While writing, the
// handler also removes the partial output file.
#include "io/jpeg_io.h"

#include <jerror.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/image_names.h"
#include "io/image_size.h"
#include "io/output_file.h"
#include "io/standard_output.h"

namespace {

PICINFO* current_picture_in = nullptr;
PICINFO* current_picture_out = nullptr;

// Pixels one byte of a Huffman-coded JPEG file may stand for at most: each
// block a scan codes costs at least one bit, and a block covers at most
// 8 x 8 samples of a component sampled 4 times more coarsely than another,
// so 1024 pixels. The arithmetic coder has no such floor (a uniform
// 2500 x 2500 picture fits in 125 bytes): for it only memory limits a claim.
constexpr long long kMaxPixelsPerByte = 8192;

void reader_error_exit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  READ_JPEG* reader = reinterpret_cast<READ_JPEG::error_manager*>(cinfo->err)->reader;
  jpeg_destroy_decompress(&reader->cinfo);
  reader->created = false;
  if (reader->infile != nullptr && reader->infile != stdin) std::fclose(reader->infile);
  reader->infile = nullptr;
  fatal_exitf(-1, stderr, "Error: the JPEG code has signaled an error ... reading %s\n", reader->file_name());
}

// Warnings that mean pixels were lost (a scan whose data end early or are
// corrupt) stop the read like errors: the library would fill the gap with
// grey and the run would go on with an image that is not the file's. A file
// that merely ends without its end marker ("Premature end of JPEG file"
// alone) has lost no pixel the decoder needed, and stays a warning.
void reader_emit_message(j_common_ptr cinfo, int msg_level) {
  if (msg_level < 0) {
    switch (cinfo->err->msg_code) {
      case JWRN_HIT_MARKER:
      case JWRN_HUFF_BAD_CODE:
      case JWRN_MUST_RESYNC:
        (*cinfo->err->error_exit)(cinfo);
        return;
      default: break;
    }
  }
  reinterpret_cast<READ_JPEG::error_manager*>(cinfo->err)->library_emit_message(cinfo, msg_level);
}

// The library's message, followed by the file it was writing and, for a
// failed write, the system's reason.
void writer_error_exit(j_common_ptr cinfo) {
  const int reason = cinfo->err->msg_code == JERR_FILE_WRITE ? errno : 0;
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  WRITE_JPEG* writer = reinterpret_cast<WRITE_JPEG::error_manager*>(cinfo->err)->writer;
  jpeg_destroy_compress(&writer->cinfo);
  writer->created = false;
  if (writer->outfile != nullptr && writer->outfile != io_standard_output()) io_discard_output(writer->outfile);
  writer->outfile = nullptr;
  const std::string file = reason != 0 ? io_open_failure(nullptr, writer->file, reason) : "(" + writer->file + ")";
  fatal_exitf(1, stderr, "%s %s\n", message, file.c_str());
}

}  // namespace

std::string jpgname(const char* name) { return io_completed_name(name, ".jpg"); }

// ---- Reading ----

READ_JPEG::READ_JPEG() { std::memset(&cinfo, 0, sizeof cinfo); }

READ_JPEG::~READ_JPEG() {
  if (created) jpeg_destroy_decompress(&cinfo);
  if (infile != nullptr && infile != stdin) std::fclose(infile);
}

void READ_JPEG::startread(const char* name, int mode) {
  Name = jpgname(name);
  if (std_inout(name)) {
    infile = io_standard_input(name);
  } else {
    // The name as given, then with ".jpg"; the reason shown is the first
    // open's unless that name does not exist.
    std::string file = name;
    infile = io_fopen_read(file);
    int error = errno;
    if (infile == nullptr) {
      infile = io_fopen_read(file + ".jpg");
      const int jpg_error = errno;
      if (error == ENOENT && jpg_error != ENOENT) {
        file += ".jpg";
        error = jpg_error;
      }
    }
    if (infile == nullptr)
      fatal_exitf(-1, stderr, "Error reading file %s\n", io_open_failure(name, file, error).c_str());
  }
  cinfo.err = jpeg_std_error(&jerr.pub);
  jerr.pub.error_exit = reader_error_exit;
  jerr.library_emit_message = jerr.pub.emit_message;
  jerr.pub.emit_message = reader_emit_message;
  jerr.reader = this;
  jpeg_create_decompress(&cinfo);
  created = true;
  jpeg_stdio_src(&cinfo, infile);
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.out_color_space != JCS_GRAYSCALE && cinfo.out_color_space != JCS_RGB)
    fatal_exitf(-1, stderr, "Error: Incorrect color space\n       input image must be RGB or gray ... %s\n", name);
  switch (mode) {
    case JPEG_READ_IN_GRAY:
      if (Verbose) std::printf("  JPEG_READ_IN_GRAY \n");
      cinfo.out_color_space = JCS_GRAYSCALE;
      cinfo.output_components = 1;
      color = 0;
      break;
    case JPEG_READ_IN_PSEUDO:
      if (Verbose) std::printf(" JPEG_READ_IN_PSEUDO \n");
      cinfo.out_color_space = JCS_RGB;
      cinfo.quantize_colors = TRUE;
      cinfo.desired_number_of_colors = 256;
      cinfo.output_components = 1;
      color = 1;
      break;
    case JPEG_READ_IN_RGB:
      if (Verbose) std::printf(" JPEG_READ_IN_RGB \n");
      cinfo.out_color_space = JCS_RGB;
      cinfo.quantize_colors = FALSE;
      cinfo.output_components = 3;
      color = 1;
      break;
    default: fatal_exitf(-1, stderr, "Error: Incorrect specified color space ... (%s)\n", name);
  }
  jpeg_calc_output_dimensions(&cinfo);
  // Sizes are checked before the decoder allocates anything for them.
  const long long nl = cinfo.output_height, nc = cinfo.output_width;
  if (nl * nc < 1) fatal_exitf(-1, stderr, "Error: the input image is not a 2D array ... %s\n", name);
  if (nl == 1) fatal_exitf(-1, stderr, "Error: number of lines must be > 1 ... %s\n", name);
  if (nc == 1) fatal_exitf(-1, stderr, "Error: number of columns must be > 1 ... %s\n", name);
  // Even a uniform picture costs a Huffman coder some bits per block: a
  // file far too small for its announced size is damaged, not compressed.
  const long long file_size = io_stream_size(infile);
  const bool beyond_data = !cinfo.arith_code && file_size >= 0 && nl * nc > kMaxPixelsPerByte * file_size;
  if (nl * nc > INT_MAX || beyond_data)
    fatal_exitf(-1, stderr, "Error: JPEG image %s of %lld x %lld pixels is too large for its data ...\n", name,
                nl, nc);
  // A progressive file is decoded into whole-image coefficient buffers (two
  // bytes a sample of each component) besides the image itself.
  const long long coefficient_bytes = cinfo.progressive_mode ? 2LL * cinfo.num_components : 0;
  io_check_image_memory(name, nl, nc, static_cast<long long>(sizeof(float)) + coefficient_bytes);
  jpeg_start_decompress(&cinfo);
  int ncolors = cinfo.quantize_colors ? cinfo.actual_number_of_colors : 256;
  if (ncolors > 256) fatal_exitf(-1, stderr, "Error: too many colors ... %s\n", name);
  if (mode == JPEG_READ_IN_PSEUDO) {
    if (Verbose) std::printf(" READ LUT \n");
    int shift = cinfo.data_precision - 8;
    unsigned char r[256] = {}, g[256] = {}, b[256] = {};
    for (int i = 0; i < ncolors && cinfo.colormap != nullptr; i++) {
      r[i] = static_cast<unsigned char>(cinfo.colormap[0][i] >> shift);
      g[i] = static_cast<unsigned char>(cinfo.colormap[cinfo.out_color_components > 1 ? 1 : 0][i] >> shift);
      b[i] = static_cast<unsigned char>(cinfo.colormap[cinfo.out_color_components > 2 ? 2 : 0][i] >> shift);
    }
    IO_RGB.alloc(256, r, g, b);
  }
  const int row_stride = static_cast<int>(cinfo.output_width) * cinfo.output_components;
  if (Verbose) std::printf(" row_stride = %d\n output_components  = %d\n", row_stride, cinfo.output_components);
  row_buffer = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, row_stride, 1);
  Nl = static_cast<int>(nl);
  Nc = static_cast<int>(nc);
}

template <class T>
void READ_JPEG::read_grey(T* out, bool trace_lines) {
  if (Verbose) std::printf("JPEG read: Nl = %d Nc = %d\n%s\n", Nl, Nc, color ? "Color" : "Gray");
  while (cinfo.output_scanline < cinfo.output_height) {
    const long line = cinfo.output_scanline;
    if (Verbose && trace_lines) std::printf("start read %ld %u\n", line, cinfo.output_height);
    jpeg_read_scanlines(&cinfo, row_buffer, 1);
    const JSAMPLE* row = row_buffer[0];
    T* dst = out + line * Nc;
    for (int j = 0; j < Nc; j++) dst[j] = static_cast<T>(row[j]);
  }
}

void READ_JPEG::read_ima2d(const char* name, to_array<float, false>& Ima) {
  startread(name, JPEG_READ_IN_GRAY);
  io_alloc_image(Ima, Nl, Nc, Name.c_str());
  read_grey(Ima.buffer(), true);
  if (Verbose) std::printf("out \nmin data = %g\nmax data = %g\n", Ima.min(), Ima.max());
  end_read();
}

void READ_JPEG::read_ima2d(const char* name, to_array<int, false>& Ima) {
  startread(name, JPEG_READ_IN_GRAY);
  io_alloc_image(Ima, Nl, Nc, Name.c_str());
  read_grey(Ima.buffer(), false);
  end_read();
}

void READ_JPEG::read_ima2d(const char* name, PICINFO* Pic) {
  startread(name, JPEG_READ_IN_GRAY);
  io_claim_image_memory(name, Nl, Nc, 1);
  Pic->pixels = static_cast<unsigned char*>(alloc_buffer(static_cast<std::size_t>(Nl) * Nc));
  Pic->height = Nl;
  Pic->width = Nc;
  read_grey(Pic->pixels, true);
  end_read();
}

void READ_JPEG::read_ima3d(const char* name, to_array<float, true>& Cube) {
  startread(name, JPEG_READ_IN_RGB);
  if (Verbose) std::printf("JPEG read: Nl = %d Nc = %d\nColor\n", Nl, Nc);
  // The cube's three planes count as one image three times as wide.
  io_claim_image_memory(name, Nl, 3LL * Nc, static_cast<long long>(sizeof(float)));
  Cube.alloc(Nc, Nl, 3);
  const long plane = static_cast<long>(Nl) * Nc;
  float* out = Cube.buffer();
  while (cinfo.output_scanline < cinfo.output_height) {
    const long line = cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, row_buffer, 1);
    const JSAMPLE* row = row_buffer[0];
    for (int x = 0; x < Nc; x++)
      for (int c = 0; c < 3; c++) out[c * plane + line * Nc + x] = row[3 * x + c];
  }
  end_read();
}

void READ_JPEG::read_ima3d(const char* name, unsigned char*& R, unsigned char*& G, unsigned char*& B, int& nl,
                           int& nc) {
  startread(name, JPEG_READ_IN_RGB);
  const long plane = static_cast<long>(Nl) * Nc;
  io_claim_image_memory(name, Nl, 3LL * Nc, 1);
  R = new unsigned char[plane];
  G = new unsigned char[plane];
  B = new unsigned char[plane];
  while (cinfo.output_scanline < cinfo.output_height) {
    const long line = cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, row_buffer, 1);
    const JSAMPLE* row = row_buffer[0];
    for (int x = 0; x < Nc; x++) {
      R[line * Nc + x] = row[3 * x];
      G[line * Nc + x] = row[3 * x + 1];
      B[line * Nc + x] = row[3 * x + 2];
    }
  }
  nl = Nl;
  nc = Nc;
  end_read();
}

int READ_JPEG::readbuff(int NbrLine, PICINFO* Pic, Bool FullColor) {
  if (Verbose) std::printf("%s\nNbrLine to read = %d\n", FullColor ? "Full Color" : (color ? "Pseudo Color" : "Gray"), NbrLine);
  const long row_bytes = static_cast<long>(Nc) * (FullColor ? 3 : 1);
  const long row_stride = static_cast<long>(cinfo.output_width) * cinfo.output_components;
  const long copy = row_bytes < row_stride ? row_bytes : row_stride;
  int read = 0;
  while (read < NbrLine && cinfo.output_scanline < cinfo.output_height) {
    jpeg_read_scanlines(&cinfo, row_buffer, 1);
    std::memcpy(Pic->pixels + read * row_bytes, row_buffer[0], static_cast<std::size_t>(copy));
    read++;
  }
  if (Verbose) std::printf("read = %d\n", read);
  return read;
}

void READ_JPEG::end_read() {
  if (created) {
    if (cinfo.output_scanline < cinfo.output_height) jpeg_abort_decompress(&cinfo);
    else jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    created = false;
  }
  if (infile != nullptr && infile != stdin) std::fclose(infile);
  infile = nullptr;
}

// ---- Writing ----

namespace {

// A flush or close that failed, and removed the file it wrote: the reason
// given.
[[noreturn]] void write_failed(const std::string& file) {
  const int reason = errno;
  fatal_exitf(-1, stderr, "Error: cannot write in file %s\n",
              io_open_failure(nullptr, file, reason, "not every byte was written").c_str());
}

}  // namespace

WRITE_JPEG::WRITE_JPEG() { std::memset(&cinfo, 0, sizeof cinfo); }

WRITE_JPEG::~WRITE_JPEG() {
  if (created) jpeg_destroy_compress(&cinfo);
  if (outfile != nullptr && outfile != io_standard_output()) io_discard_output(outfile);
}

void WRITE_JPEG::startwrite(const char* name, int nl, int nc) {
  // Named from the start, so that every library error can say which file.
  file = jpgname(name);
  cinfo.err = jpeg_std_error(&jerr.pub);
  jerr.pub.error_exit = writer_error_exit;
  jerr.writer = this;
  jpeg_create_compress(&cinfo);
  created = true;
  if (Verbose) std::printf("jpeg_create_compress OK\n");
  cinfo.in_color_space = JCS_RGB;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  if (nl < 1 || nc < 1) fatal_exitf(-1, stderr, "Error: cannot write an image of %d x %d pixels to %s\n", nl, nc, name);
  // Checked before the file is opened, so that a refusal leaves no file.
  if (pseudo_color == 1 && IO_RGB.lut_size() == 0)
    fatal_exitf(-1, stderr, "Error: the LUT is not defined .. (%s)\n", file.c_str());
  if (pseudo_color == 1 && IO_RGB.lut_size() > 256)
    fatal_exitf(-1, stderr, "Error: too many colors in the LUT .. (%s)\n", file.c_str());
  if (std_inout(file.c_str())) {
    outfile = io_standard_output();
  } else {
    outfile = io_open_output_or_exit(name, file, "can't open %s\n", 1);
  }
  if (Verbose) std::printf("open file OK\n");
  color_map = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, 256, 3);
  if (pseudo_color != 1) {
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    if (Verbose) std::printf("GRAY  OK\n");
  } else {
    for (int i = 0; i < 256; i++) {
      bool defined = i < IO_RGB.lut_size();
      color_map[0][i] = defined ? IO_RGB.red(i) : 0;
      color_map[1][i] = defined ? IO_RGB.green(i) : 0;
      color_map[2][i] = defined ? IO_RGB.blue(i) : 0;
    }
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    if (Verbose) std::printf("COLOR  OK\n");
  }
  Nl = nl;
  Nc = nc;
  cinfo.image_height = static_cast<JDIMENSION>(nl);
  cinfo.image_width = static_cast<JDIMENSION>(nc);
  cinfo.data_precision = 8;
  row_buffer = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                          static_cast<JDIMENSION>(nc) * cinfo.input_components, 1);
  if (Verbose) std::printf("Buff alloc  OK\n");
  jpeg_default_colorspace(&cinfo);
  if (Verbose) std::printf("jpeg_default_colorspace   OK\n");
  cinfo.smoothing_factor = 0;
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_stdio_dest(&cinfo, outfile);
  if (Verbose) std::printf("jpeg_stdio_dest  OK\n");
  jpeg_start_compress(&cinfo, TRUE);
  if (Verbose) std::printf("jpeg_start_compress    OK\n");
}

// Nl x Nc bytes, one line at a time; in pseudo-colour mode each byte is
// written as the colour map's three components.
void WRITE_JPEG::write_bytes(const unsigned char* bytes) {
  if (Verbose) std::printf("Writing \n");
  while (cinfo.next_scanline < cinfo.image_height) {
    const unsigned char* src = bytes + static_cast<long>(cinfo.next_scanline) * Nc;
    JSAMPLE* row = row_buffer[0];
    if (pseudo_color == 1) {
      for (int j = 0; j < Nc; j++) {
        row[3 * j] = color_map[0][src[j]];
        row[3 * j + 1] = color_map[1][src[j]];
        row[3 * j + 2] = color_map[2][src[j]];
      }
    } else {
      std::memcpy(row, src, static_cast<std::size_t>(Nc));
    }
    jpeg_write_scanlines(&cinfo, row_buffer, 1);
  }
  if (Verbose) std::printf("End writing \n");
}

void WRITE_JPEG::write_ima2d(const char* name, to_array<float, false>& Ima) {
  startwrite(name, Ima.nl(), Ima.nc());
  if (Verbose) std::printf("JPEG write %d %d\nNormalization \n", Nl, Nc);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(Ima.n_elem()));
  pixels_to_bytes(Ima.buffer(), Ima.n_elem(), rescale, bytes.data());
  write_bytes(bytes.data());
  end_write();
}

void WRITE_JPEG::write_ima2d(const char* name, to_array<int, false>& Ima) {
  startwrite(name, Ima.nl(), Ima.nc());
  std::vector<unsigned char> bytes(static_cast<std::size_t>(Ima.n_elem()));
  pixels_to_bytes(Ima.buffer(), Ima.n_elem(), rescale, bytes.data());
  write_bytes(bytes.data());
  end_write();
}

void WRITE_JPEG::write_ima2d(const char* name, PICINFO* Pic) {
  startwrite(name, Pic->height, Pic->width);
  if (Verbose) std::printf("JPEG write %d %d\n", Nl, Nc);
  write_bytes(Pic->pixels);
  end_write();
}

void WRITE_JPEG::start_colour(const char* name, int nl, int nc) {
  if (IO_RGB.lut_size() == 0) IO_RGB.alloc(256);
  pseudo_color = 1;
  startwrite(name, nl, nc);
}

void WRITE_JPEG::write_ima3d(const char* name, to_array<float, true>& Cube) {
  if (Cube.naxis() != 3 || Cube.nz() < 3)
    fatal_exitf(-1, stderr, "Error: %s: a colour image needs three planes ...\n", name);
  start_colour(name, Cube.ny(), Cube.nx());
  const long plane = static_cast<long>(Nl) * Nc;
  // The stretch runs over the whole cube, every channel together.
  std::vector<unsigned char> channels(static_cast<std::size_t>(3 * plane));
  pixels_to_bytes(Cube.buffer(), 3 * plane, rescale, channels.data());
  while (cinfo.next_scanline < cinfo.image_height) {
    const long line = cinfo.next_scanline;
    JSAMPLE* row = row_buffer[0];
    for (int x = 0; x < Nc; x++)
      for (int c = 0; c < 3; c++) row[3 * x + c] = channels[c * plane + line * Nc + x];
    jpeg_write_scanlines(&cinfo, row_buffer, 1);
  }
  end_write();
}

void WRITE_JPEG::write_ima3d(const char* name, PICINFO& Pic) {
  start_colour(name, Pic.height, Pic.width);
  while (cinfo.next_scanline < cinfo.image_height) {
    std::memcpy(row_buffer[0], Pic.pixels + static_cast<long>(cinfo.next_scanline) * 3 * Nc,
                static_cast<std::size_t>(3 * Nc));
    jpeg_write_scanlines(&cinfo, row_buffer, 1);
  }
  end_write();
}

int WRITE_JPEG::writebuff(int NbrLine, PICINFO* Pic, Bool FullColor) {
  if (Verbose)
    std::printf("JPEG write: Nl = %d Nc = %d\n%s\nNbrLine to write = %d\n", Nl, Nc,
                FullColor ? "Full Color" : (pseudo_color ? "Pseudo Color" : "Gray"), NbrLine);
  const long row_bytes = static_cast<long>(Pic->width) * (FullColor ? 3 : 1);
  const long row_stride = static_cast<long>(Nc) * cinfo.input_components;
  const long copy = row_bytes < row_stride ? row_bytes : row_stride;
  int written = 0;
  while (written < NbrLine && cinfo.next_scanline < cinfo.image_height) {
    std::memcpy(row_buffer[0], Pic->pixels + written * row_bytes, static_cast<std::size_t>(copy));
    jpeg_write_scanlines(&cinfo, row_buffer, 1);
    written++;
  }
  if (Verbose) std::printf("write = %d\n", written);
  return written;
}

void WRITE_JPEG::end_write() {
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  created = false;
  if (Verbose) std::printf("END \n");
  if (outfile == io_standard_output()) {
    outfile = nullptr;
    if (std::fflush(io_standard_output()) != 0) write_failed(file);
    return;
  }
  std::FILE* stream = outfile;
  outfile = nullptr;
  if (stream != nullptr && !io_close_output(stream)) write_failed(file);
}

// ---- Free functions ----

void io_read2d_jpeg(const char* name, to_array<float, false>& Ima) {
  READ_JPEG reader;
  reader.read_ima2d(name, Ima);
}

void io_read2d_jpeg(const char* name, to_array<int, false>& Ima) {
  READ_JPEG reader;
  reader.read_ima2d(name, Ima);
}

void io_read3d_jpeg(const char* name, to_array<float, true>& Cube) {
  READ_JPEG reader;
  reader.read_ima3d(name, Cube);
}

void io_write2d_jpeg(const char* name, to_array<float, false>& Ima, Bool Rescale, int Quality) {
  WRITE_JPEG writer;
  writer.quality = Quality;
  writer.rescale = Rescale;
  writer.pseudo_color = IO_RGB.lut_size() != 0 ? 1 : 0;
  writer.write_ima2d(name, Ima);
}

void io_write2d_jpeg(const char* name, to_array<int, false>& Ima, Bool Rescale, int Quality) {
  WRITE_JPEG writer;
  writer.quality = Quality;
  writer.rescale = Rescale;
  writer.pseudo_color = IO_RGB.lut_size() != 0 ? 1 : 0;
  writer.write_ima2d(name, Ima);
}

void io_write3d_jpeg(const char* name, to_array<float, true>& Cube, int Quality) {
  WRITE_JPEG writer;
  writer.quality = Quality;
  writer.write_ima3d(name, Cube);
}

// ---- Block-wise interface ----

void readhdjpeg(const char* name, int& Nl, int& Nc, PICINFO*& Pic) {
  if (Pic == nullptr) Pic = new PICINFO{};
  READ_JPEG reader;
  reader.read_ima2d(name, Pic);
  Nl = Pic->height;
  Nc = Pic->width;
  current_picture_in = Pic;
}

void readhdjpeg(const char* name, int& Nl, int& Nc) { readhdjpeg(name, Nl, Nc, current_picture_in); }

void jpeg_block_set_ptr_in(PICINFO* Pic) { current_picture_in = Pic; }

namespace {

PICINFO& picture_in(PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_in;
  if (pic == nullptr) fatal_exit("Error: cannot read jpeg image ... \n", -1, stderr);
  return *pic;
}

PICINFO& picture_out(PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_out;
  if (pic == nullptr || pic->pixels == nullptr) fatal_exit("Error: cannot write jpeg image ... \n", -1, stderr);
  return *pic;
}

}  // namespace

void read_block_jpeg(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_read(picture_in(Pic), Block, Indi, Indj, "jpeg");
}
void read_block_jpeg(to_array<float, false>& Block, int Indi, int Indj) {
  read_block_jpeg(Block, Indi, Indj, nullptr);
}
void read_block_jpeg(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_read(picture_in(Pic), Block, Indi, Indj, "jpeg");
}
void read_block_jpeg(to_array<int, false>& Block, int Indi, int Indj) {
  read_block_jpeg(Block, Indi, Indj, nullptr);
}

void jpeg_block_set_ptr_out(PICINFO* Pic) { current_picture_out = Pic; }

void writehdjpeg(const char* name, int Nl, int Nc, PICINFO* Pic) {
  if (Nl < 1 || Nc < 1 || static_cast<long long>(Nl) * Nc > INT_MAX)
    fatal_exitf(-1, stderr, "Error: cannot write an image of %d x %d pixels to %s\n", Nl, Nc, name);
  if (Pic == nullptr) Pic = current_picture_out != nullptr ? current_picture_out : new PICINFO{};
  prepare_picture(*Pic, name, Nl, Nc);
  current_picture_out = Pic;
}

void writehdjpeg(const char* name, int Nl, int Nc) { writehdjpeg(name, Nl, Nc, nullptr); }

void write_block_jpeg(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_write(picture_out(Pic), Block, Indi, Indj, "jpeg");
}
void write_block_jpeg(to_array<float, false>& Block, int Indi, int Indj) {
  write_block_jpeg(Block, Indi, Indj, nullptr);
}
void write_block_jpeg(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_write(picture_out(Pic), Block, Indi, Indj, "jpeg");
}
void write_block_jpeg(to_array<int, false>& Block, int Indi, int Indj) {
  write_block_jpeg(Block, Indi, Indj, nullptr);
}

void closejpeg(const char* name, PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_out;
  if (pic == nullptr || pic->pixels == nullptr) return;
  WRITE_JPEG writer;
  writer.pseudo_color = IO_RGB.lut_size() != 0 ? 1 : 0;
  writer.write_ima2d(name, pic);
  free_buffer(pic->pixels);
  pic->pixels = nullptr;
}

void closejpeg(const char* name) { closejpeg(name, nullptr); }
