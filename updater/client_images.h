// The two pictures that the update client carries in its data (drawn by
// updater/res/make_images.sh).
#pragma once

#include <cstddef>

// Image 1: icon file, 32 x 32, 8 bits per pixel with a mask (update button).
extern const unsigned char* const arrow_icon_data;
extern const std::size_t arrow_icon_size;
// Image 2: baseline JPEG, 48 x 48 (top-left picture of the window).
extern const unsigned char* const logo_jpeg_data;
extern const std::size_t logo_jpeg_size;
