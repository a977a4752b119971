// The confirm button's face, carried in the program (res/make_icon.sh).
#include "language_chooser.h"

const unsigned char go_icon_data[] = {
#include "res/go_icon.inc"
};
const std::size_t go_icon_size = sizeof go_icon_data;
