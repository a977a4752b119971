/* The programs' version: in their file properties, and the version that the
   update client gives the update server as its own module's. */
#pragma once

#define PROGRAM_VERSION_TEXT "1.00"
#define PROGRAM_VERSION_NUMBERS 1, 0, 0, 0
