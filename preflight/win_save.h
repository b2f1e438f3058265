// The file the pre-flight saves a snapshot to on Windows. Its folder is
// opened and checked before the snapshot is taken, and held open, so that it
// cannot be moved or swapped for a link while the snapshot is taken; the new
// content is made once under a name of its own beside the file, written and
// flushed through that handle, and renamed over the file by it.
#pragma once

#include <string>

// Declares nothing of the SDK's: its macros would replace the names of the
// boundary's constants in the file that includes this.
class SnapshotFile {
public:
    SnapshotFile() = default;
    SnapshotFile(const SnapshotFile&) = delete;
    SnapshotFile& operator=(const SnapshotFile&) = delete;
    ~SnapshotFile();

    // Pins the folder of path. False, with the reason (a phrase that follows
    // the quoted path), when the folder is not there, is a link or a
    // junction, or is reached through one; or when a file of that name
    // is there and is a folder, a link, read-only, of more than one name (a
    // hard link, which a replacement would split) or not on a disk.
    bool Open(const std::wstring& path, std::string* problem);

    // Writes bytes as the file's whole content, or changes nothing and
    // answers false with the reason.
    bool Write(const std::string& bytes, std::string* problem);

private:
    std::wstring folderPath_; // as the file system names it
    std::wstring name_;
    void* folder_ = nullptr; // the folder's handle, held while not null
};
