// Numbered text files: open, create, read line by line and write.
//
// Files are named by a non-negative number chosen by the caller. Line reads
// and writes act on the current file: the one opened most recently. Used
// from one thread at a time.
#pragma once

#include <cstddef>
#include <string>

// Opens an existing file for reading (others may read it too). Non-zero on
// success; on failure 0, the table is unchanged and there is no current file.
int file_open_read(int number, const std::string& path);

// Creates or empties the file for writing; if that fails, opens the existing
// file for writing and truncates it. Results as file_open_read.
int file_create(int number, const std::string& path);

// Creates path for writing as a file that only we write, in a folder that
// others may share (Temp): as file_create on Windows, whose Temp is per
// user; on POSIX only as a new file, so a link or a file planted at path is
// never written through (it fails instead). Results as file_open_read.
int file_create_private(int number, const std::string& path);

// Closes the file under number; nothing open there is ignored.
void file_close(int number);

// Closes every numbered file (clean-up at the end of a program).
void file_close_all();

// The next line of the current file without its line end (CR LF, LF or a
// lone CR); a zero byte also ends a line. The empty text at the end of the
// file or with no current file.
std::string file_read_line();

// Writes the block to the current file. Non-zero when written; 0 when there
// is no current file, block is null or length is 0, or on a write error.
int file_write_bytes(const void* block, std::size_t length);

// Writes the text without line end; the number of bytes written.
std::size_t file_write_text(const std::string& text);

// Writes the text and CR LF; the number of bytes written, line end included.
std::size_t file_write_line(const std::string& text);
