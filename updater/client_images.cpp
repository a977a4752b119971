// Storage of the update client's two pictures.
#include "client_images.h"

#include "res/client_images.inc"

const unsigned char* const arrow_icon_data = arrow_icon_bytes;
const std::size_t arrow_icon_size = sizeof(arrow_icon_bytes);
const unsigned char* const logo_jpeg_data = logo_jpeg_bytes;
const std::size_t logo_jpeg_size = sizeof(logo_jpeg_bytes);
