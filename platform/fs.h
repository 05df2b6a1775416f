// File-system calls that the C library does not offer: durable writes, directories, copies.
#pragma once
#include <cstddef>
#include <cstdio>

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
// Creates or replaces a file that only its owner may read and write (mode 0600).
bool fs_write_private_file(const char* path, const void* data, size_t length);
// Opens a file for writing (mode "w" or "wb") that only its owner may read and write: created
// with mode 0600 and set to 0600 if it existed; a symbolic link is not followed. Null on failure.
FILE* fs_open_private(const char* path, const char* mode);
// Makes a directory that only its owner may enter (0700), or sets an existing one (not a symbolic
// link) to 0700. False when neither works.
bool fs_create_private_directory(const char* path);
// Removes the copies that an interrupted fs_replace_file of path left beside it (path + "." and six
// letters or digits, plain files only); other names are left alone. Returns how many were removed.
int fs_remove_temporary_copies(const char* path);
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
