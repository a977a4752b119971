// The version and date of the installed filter definitions, read from the
// first entry of the definitions file "eas" in the current folder.
#pragma once

// Sets definitions_version and definitions_date (client_state.h) from the
// keys "version_definition" and "date" of the first entry, a settings text;
// each is empty when the file does not give it. The entry passes through a
// temporary copy "DEF000056" in the folder named by the environment
// variable "Temp", deleted again. Runs on the user-interface thread before
// the update check thread starts; uses the pack and settings readers and
// numbered file 1. Non-zero when the copy was made and read (callers may
// ignore it).
int probe_definitions_version();
