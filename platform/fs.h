// File-system calls that the C library does not offer: durable writes, directories, copies.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

// Flushes a stdio file's buffers and the file's data to the disk. False on failure.
bool fs_flush_file(FILE* f);
enum FsFileAccess { FS_SHARED, FS_PRIVATE };
// Writes the bytes to a temporary copy of a unique name beside the file, flushes them to disk and
// renames the copy over the path, so a crash leaves either the old file or the new one whole and
// two writers never rename each other's copy. The copy takes the mode and owner of the file it
// replaces (a private one without any access for others); a new file is readable by everyone
// (FS_SHARED) or only by its owner (FS_PRIVATE).
// False (old file untouched) on failure.
bool fs_replace_file(const char* path, const void* data, size_t length, FsFileAccess access = FS_SHARED);
// Creates one directory; false when it cannot be made (also when it exists).
bool fs_create_directory(const char* path);
bool fs_file_exists(const char* path);
// Copies a file; with fail_if_exists an existing target is kept and false returned.
// A new target is made as fs_replace_file makes it with the given access.
bool fs_copy_file(const char* from, const char* to, bool fail_if_exists, FsFileAccess access = FS_SHARED);
// The current directory into out (room bytes); false when it does not fit.
bool fs_current_directory(char* out, size_t room);
bool fs_set_current_directory(const char* path);
// Creates or replaces a file that only its owner may read and write (mode 0600), by the durable
// replacement above: a symbolic link at path is replaced, never followed. False on failure.
bool fs_write_private_file(const char* path, const void* data, size_t length);
// Opens a file for writing (mode "w" or "wb") that only its owner may read and write: created
// with mode 0600 and set to 0600 if it existed; a symbolic link is not followed. Null on failure.
FILE* fs_open_private(const char* path, const char* mode);
// Makes a directory that only its owner may enter (0700), or sets an existing one (not a symbolic
// link) to 0700. False when neither works.
bool fs_create_private_directory(const char* path);
// Removes a file (not a folder); true when it was removed or was not there.
bool fs_remove_file(const char* path);
// Removes the copies that an interrupted fs_replace_file of path left beside it (path + "." and six
// letters or digits, plain files only); other names are left alone. Returns how many were removed.
int fs_remove_temporary_copies(const char* path);
// Reading a file that is one: a FIFO, a device or a file of any size must never hold up a reader.
enum FsReadResult {
  FS_READ_OK,           // *out holds the whole file
  FS_READ_MISSING,      // there is no such file
  FS_READ_FAILED,       // it could not be opened or read (the error number in *error)
  FS_READ_NOT_REGULAR,  // not a regular file (a folder, FIFO, device, socket): nothing was read
  FS_READ_TOO_LARGE,    // larger than max_bytes: *out holds its first max_bytes
};
// The largest settings, registry or language file that is read.
constexpr size_t FS_TEXT_FILE_MAX = 4u << 20;
// Opens path (links followed) for reading without waiting on a FIFO, and takes it only when it is a
// regular file of at most max_bytes; null otherwise, with the reason in *result (never FS_READ_OK).
FILE* fs_open_regular(const char* path, size_t max_bytes, FsReadResult* result, int* error);
// Reads a regular file of at most max_bytes whole into *out (appended), as fs_open_regular opens it.
FsReadResult fs_read_regular(const char* path, size_t max_bytes, std::string* out, int* error);
// What went wrong with a read of at most FS_TEXT_FILE_MAX bytes, as text ("it is not a regular
// file", "it is larger than 4 MiB", or the system's text for the error number).
const char* fs_read_problem(FsReadResult result, int error);
// True when path names a folder (links followed).
bool fs_is_directory(const char* path);
// The system's text for an error number, and for the error of the last failed fs_replace_file.
const char* fs_error_text(int error);
const char* fs_last_error_text();
// What tells one state of a file from another: its device, inode, size and modification time.
// A missing file has exists false and zeros.
struct FsFileState {
  bool exists;
  unsigned long long device, inode, size;
  long long modified_ns;
};
// The file's state now (links followed); false, with a missing file's state, when it cannot be read.
bool fs_file_state(const char* path, FsFileState* out);
bool fs_same_state(const FsFileState& a, const FsFileState& b);
// Sets an existing plain file (not a symbolic link) to mode 0600. False when it is missing or
// cannot be set.
bool fs_make_private(const char* path);
// Appends length bytes to the file (created when missing, readable by everyone or only by its
// owner as access says) whole or not at all: after a short or failed write the file is cut back
// to its length before. With new_line, a file whose last byte is not LF gets CR LF first, so the
// bytes start a line of their own. before and after, when given, receive the state of the file
// written just before and after the write. False on failure, the error number in *error.
bool fs_append_whole(const char* path, const void* data, size_t length, bool new_line, int* error,
                     FsFileAccess access = FS_SHARED, FsFileState* before = nullptr, FsFileState* after = nullptr);
