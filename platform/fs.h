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
// replaces; a new file is readable by everyone (FS_SHARED) or only by its owner (FS_PRIVATE).
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
