// File access for the simulated platform's own files: the machine file and
// the trace file. They belong to the user, so they are read whole, written
// whole or not at all, and kept as the user had them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace simulator {

// A path as a message shows it: in quotes, on one line, control characters
// and bytes that are not UTF-8 as \xNN.
std::string QuotedPath(const std::string& path);

// Reads a whole regular file of at most maxBytes. A directory, a device or any
// other file that is not a regular one, and a larger file, are refused before
// anything is read; on failure answers false with the reason.
bool ReadWholeFile(const std::string& path, std::uintmax_t maxBytes, std::string* text, std::string* error);

// Answers false, with the reason (a phrase that follows the file's name),
// when ReplaceFileAtomically could not replace the file as the user would
// want: it is not a regular file, it has
// more than one name (a hard link, which a replacement would split), the user
// made it read-only (no write permission bit is set), it is another user's
// in a sticky folder, its name is longer than its folder takes, or its folder
// does not exist or does not let a new file be made beside it. A file that
// does not exist yet needs only its folder.
bool CanReplaceFile(const std::string& path, std::string* error);

// True when path names a file that git tracks in the project checked out at
// root, whichever account owns the checkout: a source the run must not
// overwrite. False when it does not, when
// root is not a git checkout, when git cannot be run, and on Windows, where
// the project is not built from its checkout.
bool IsTrackedInCheckout(const std::string& root, const std::string& path);

// True when both paths name one file, through symbolic links and hard links:
// the same file, not the same spelling; for a file not made yet, the same
// place once its folders' links are followed.
bool IsSameFile(const std::string& first, const std::string& second);

// A file's new content, written and flushed to disk beside it under a name no
// other run uses, but not yet in its place. Content that is never committed is
// removed when this goes.
struct PreparedReplacement {
    PreparedReplacement() = default;
    PreparedReplacement(const PreparedReplacement&) = delete;
    PreparedReplacement& operator=(const PreparedReplacement&) = delete;
    ~PreparedReplacement();

    std::filesystem::path Target;    // the file, or the target of a symbolic link to it
    std::filesystem::path Temporary; // empty when nothing is prepared
};

// Writes the new content beside the file (beside the target of a symbolic
// link, which stays), with the old file's permissions and, where the process
// may, its owner and group, and flushes it. write answers false when it could
// not write it all. On failure answers false with the reason and leaves no new
// file behind.
bool PrepareReplacement(const std::string& path, const std::function<bool(std::ostream&)>& write,
                        PreparedReplacement* prepared, std::string* error);
// Renames the prepared content over the file and flushes the folder: a crash
// leaves either the old content or the new, never a mixture.
bool CommitReplacement(PreparedReplacement* prepared, std::string* error);
// Removes prepared content that will not be committed.
void AbandonReplacement(PreparedReplacement* prepared);

// Prepares and commits a replacement in one step.
bool ReplaceFileAtomically(const std::string& path, const std::function<bool(std::ostream&)>& write,
                           std::string* error);

} // namespace simulator
