#pragma once
// File work relative to an allowed path's opened folder, so that nothing
// on the way can be swapped for a link between the check and the work. The
// last component is never followed either: every function works on regular
// files only. Each returns 0 or an errno value.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "p11crypto/files/folder_guard.h"

namespace p11crypto {

// Opens the file for reading: a regular file only (never a link, a FIFO or
// a device), reached from its opened folder.
int OpenForReading(const AllowedPath& file, UniqueFd& fd);

// Writes new content for the file: `fill` writes it to the descriptor it is
// given (a temporary file in the same folder) and returns 0 or an errno
// value; only then is the temporary file synced and renamed over the name,
// otherwise it is removed. An existing file keeps its permissions.
int WriteThroughTemporary(const AllowedPath& file, const std::function<int(int fd)>& fill);

// Reads the whole file into `bytes` and its size into `size`; EFBIG (with
// `size` set and nothing read) when it is larger than `limit` bytes.
int ReadWholeFile(const AllowedPath& file, std::size_t limit, std::string& bytes, std::uint64_t& size);

// Up to `length` bytes from `offset`; fewer at the end, none past it.
int ReadFileChunk(const AllowedPath& file, std::uint64_t offset, std::size_t length, std::string& bytes);

// Makes `data` the file's whole content: written to a temporary file in the
// same folder, synced, then renamed over the name, so that the name holds
// either the old or the new content, never a part. An existing file keeps
// its permissions.
int ReplaceFile(const AllowedPath& file, std::string_view data);

// Adds `data` at the end, creating the file if needed. A failed write cuts
// the file back to its old length.
int AppendToFile(const AllowedPath& file, std::string_view data);

// Renames `from` to `to`, replacing a file there; across file systems it
// copies (the same way as ReplaceFile) and then removes `from`.
int MoveFile(const AllowedPath& from, const AllowedPath& to);

int DeleteFile(const AllowedPath& file);

}  // namespace p11crypto
