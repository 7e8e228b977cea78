// files: raw file handles and the file system, with Windows semantics for sharing and for
// the read-only mark.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace platform {

// ---- Raw files ----

using FileHandle = std::intptr_t;
constexpr FileHandle NoFile = -1;

enum class OpenMode {
    Read,           // existing file, reading only, others may read
    Rewrite,        // create or truncate, writing, others may read
    RewritePrivate, // as Rewrite, and the file is its owner's alone, whatever its mode was; a
                    // link in its place, or a file with a second name, is refused (5)
    // A new file only, writing, never through a link, its owner's alone; a name already taken
    // gives 183. It shares its name, as a file opened for delete sharing does: it may be renamed
    // or deleted while open, so the one who made it can place it and still hold it.
    CreatePrivate,
    Append,    // existing file, reading and writing at its end, others may read
    ReadWrite, // existing file, reading and writing, others may read and write
};

// Only a regular file (or a link to one) is opened: a folder, pipe, device or socket is refused
// (5) without waiting for a writer or reader at its other end.
int openFile(const QString &path, OpenMode mode, FileHandle &handle);
int readFile(FileHandle handle, char *buffer, int size, int &got);
int writeFile(FileHandle handle, const char *buffer, int size);
int fileSize(FileHandle handle, std::int64_t &size);
int closeFile(FileHandle handle);
// The permissions of the open file.
int setFileMode(FileHandle handle, unsigned mode);
// Whether path names the file open as handle itself, not through a link, and is its only name.
bool isSoleName(const QString &path, FileHandle handle);

// ---- File system, with Windows semantics for the read-only mark ----

bool fileExists(const QString &path); // a file, or a link to one
bool dirExists(const QString &path);
bool isReadOnly(const QString &path);
int setReadOnly(const QString &path, bool readOnly);
// One level; 183 when it exists, 3 when the parent is missing. An owner-only folder is closed
// to everyone but its owner, as the application-data folder is on Windows.
int makeDir(const QString &path, bool ownerOnly = false);
// The folder and any missing parents; only the last one made owner-only when asked. A folder
// that exists already keeps its mode. Returns the error number, 0 when the folder exists.
int makePath(const QString &path, bool ownerOnly = false);
// A link is removed as a link; a read-only file gives 5, a file held open through openFile 32.
int removeFile(const QString &path);
// The name only, whatever the read-only mark: a name needs no permission on its file here, and
// the file, which other names may share, keeps its mode. A file held open gives 32 all the same.
int removeName(const QString &path);
// A new name for a file or folder that never replaces anything: 183 when the new name is taken,
// and, as on Windows, 32 for a file held open through openFile.
int renameFile(const QString &from, const QString &to);
int removeDir(const QString &path); // an empty folder, or a link to a folder (the link only)
// The permissions a plain create gives a new file (0666 less the umask).
unsigned newFileMode();
// Gives path the permissions of the file model, or those a new file gets where model does not
// exist. Set-id bits are not carried over.
int setModeLike(const QString &path, const QString &model);
bool isLink(const QString &path);
// The permissions of the regular file at path (or where a link at path leads): 0 with mode set,
// 2 when nothing is there, 5 for anything else (a folder, a pipe, a device).
int regularFileMode(const QString &path, unsigned &mode);

// ---- Folders by handle: a walk through them that no link put in a folder's place can lead
// elsewhere ----

using FolderHandle = int;
constexpr FolderHandle NoFolder = -1;

// The absolute path with every ".", ".." and link resolved, without a final separator but for
// the root; empty when the path names nothing.
QString resolvedPath(const QString &path);
// Only along a path that holds no link (a resolved one): a link anywhere on it gives 5.
int openFolder(const QString &path, FolderHandle &handle);
// Never through a link: a link or anything else but a folder in the name's place gives 5.
int openSubfolder(FolderHandle parent, const QByteArray &name, FolderHandle &handle);
void closeFolder(FolderHandle handle);
// Every name but "." and "..", in the file system's order, as the file system holds it.
int listFolder(FolderHandle folder, QList<QByteArray> &names);
enum class EntryKind { Missing, Folder, Other }; // a link is Other, whatever it points at
EntryKind entryKind(FolderHandle folder, const QByteArray &name);
// The name only, as removeName does, a link as a link; a folder gives 5.
int removeEntry(FolderHandle folder, const QByteArray &name);
// An empty folder; anything else in the name's place, a link to a folder too, stays.
int removeSubfolder(FolderHandle folder, const QByteArray &name);
// An advisory lock on a folder (flock) for work that the program's instances must do one at a
// time; nothing in the folder changes. 0 with the lock held until closeFile(handle), 32 while
// another holds it, else the error number of opening the folder.
int lockFolder(const QString &folder, FileHandle &handle);

} // namespace platform
