// errors: the error numbers of file failures, in the numbering a Windows user sees.
#include "errors.h"

#include <cerrno>

namespace platform {

int winErrorFromErrno(int e)
{
    switch (e) {
    case 0: return NoError;
    case ENOENT: return ErrFileNotFound;
    case ENOTDIR: return ErrPathNotFound;
    case EMFILE:
    case ENFILE: return ErrTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return ErrAccessDenied;
    case EBADF: return ErrInvalidHandle;
    case ENOMEM: return ErrNotEnoughMemory;
    case EWOULDBLOCK: return ErrSharingViolation;
    case EINVAL: return ErrInvalidParameter;
    case ENOSPC:
    case EDQUOT: return ErrDiskFull;
    case EILSEQ: return ErrInvalidName;
    case ENOTEMPTY: return ErrDirNotEmpty;
    case EEXIST: return ErrAlreadyExists;
    case ENAMETOOLONG: return ErrFilenameTooLong;
    case EIO: return ErrWriteFault;
    default: return ErrAccessDenied;
    }
}

} // namespace platform
