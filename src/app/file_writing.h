// Files written whole: the text goes to a temporary file beside the final one,
// every write checked, flushed to disk and closed, before it takes the final
// name. A failed step removes the temporary file and leaves the old one alone.
#pragma once

#include <sys/types.h>

#include <string>

class QByteArray;

namespace ku {

// A new file in folder named prefix + six random characters, holding text with
// the given mode bits, flushed to disk and closed; returns its path. Throws
// std::system_error (the temporary file removed) when a step fails.
std::string writeTemporaryFile(const std::string& folder, const std::string& prefix,
                               const QByteArray& text, mode_t mode);

// Flushes folder's entries to disk, so that a rename in it outlives a power
// cut; best effort.
void syncFolder(const std::string& folder);

// Writes text to path whole (a temporary file beside it, then renamed over it),
// with the given mode bits. Throws std::system_error, leaving an old file at
// path as it was, when a step fails.
void writeWholeFile(const std::string& path, const QByteArray& text, mode_t mode);

}  // namespace ku
