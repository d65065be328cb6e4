// A run on a section written with blanks: where the blanks leave the
// section plain it writes the results of the section written without them,
// their coordinates moved as far; where they leave it unsure, the run is
// refused before it writes any file.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/fits_real_keys.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"

using qz_test::real_keys;

using QzMcaSectionBlanks = QzMcaProgram;

TEST_F(QzMcaSectionBlanks, WritesTheResultsOfTheSectionWithoutItsBlanksOrNone) {
  FitsImage image(normal_image(48, 56, 3, 4.f));
  for (float& p : image.pixels) p += 100.f;
  write_fits(path("in.fits"), image);
  fitsfile* f = nullptr;
  int status = 0;
  fits_open_file(&f, path("in.fits").c_str(), READWRITE, &status);
  for (const auto& [key, value] : {std::pair<const char*, double>{"CRPIX1", 20.5}, {"CRPIX2", 13.0}, {"LTV2", -37.5}})
    fits_update_key_dbl(f, key, value, -15, nullptr, &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(run("-t 1 -n 2 -i 2 -g 0 'in.fits[40:11,5:44]' ref"), 0) << output_;
  const FitsImage want = result("ref.fits");
  const std::map<std::string, double> want_keys = real_keys(path("ref.fits"));
  // Rows 5 to 44, the reference pixel 4 rows down.
  ASSERT_EQ(want.nl, 40);
  EXPECT_EQ(want_keys.at("CRPIX2"), 9.0);
  EXPECT_EQ(want_keys.at("LTV2"), -41.5);
  for (const char* section : {"40:11 ,5:44", "40:11 , 5 :44 ", " 40 :11,5:44"}) {
    ASSERT_EQ(run(std::string("-t 1 -n 2 -i 2 -g 0 'in.fits[0][") + section + "]' out"), 0) << section << output_;
    EXPECT_EQ(result("out.fits").pixels, want.pixels) << section;
    EXPECT_EQ(real_keys(path("out.fits")), want_keys) << section;
  }
  for (const char* name : {"out.fits", "out_atrou.fits", "out_resi.fits"}) std::remove(path(name).c_str());
  for (const char* name : {"in.fits[0][40:11,5:4 4]", "in.fits[40 :11,5:44]", "in.fits[0] [40:11,5:44]"}) {
    EXPECT_EQ(run(std::string("-t 1 -n 2 -i 2 -g 0 '") + name + "' out"), 255) << name;
    EXPECT_TRUE(printed("[40:11,5:44]")) << name << "\n" << output_;
    for (const char* result : {"out.fits", "out_atrou.fits", "out_resi.fits"}) EXPECT_FALSE(exists(result)) << name;
  }
}
