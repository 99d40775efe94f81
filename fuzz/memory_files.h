// Files held in memory, for the protocol fuzzer: the file class of the
// framework (framework/afxfile.h) reading from buffers the fuzzer names
// instead of from the disk, so that Load File runs its own code on every
// image without a single system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace memfile {

// Makes `path` a file holding the n bytes at `bytes`, which must stay as
// they are while the file exists. Replaces any earlier file of that name.
void Put(const std::string& path, const std::uint8_t* bytes, std::size_t n);
// Removes the file; opening it then fails as a missing file does.
void Remove(const std::string& path);

}  // namespace memfile
