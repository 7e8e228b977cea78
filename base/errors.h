// errors: the error numbers of file failures, in the numbering a Windows user sees.
#pragma once

namespace platform {

// Every file failure is reported in this numbering.
enum WinError : int {
    NoError = 0,
    ErrFileNotFound = 2,
    ErrPathNotFound = 3,
    ErrTooManyFiles = 4,
    ErrAccessDenied = 5,
    ErrInvalidHandle = 6,
    ErrNotEnoughMemory = 8,
    ErrWriteFault = 29,
    ErrReadFault = 30,
    ErrSharingViolation = 32,
    ErrInvalidParameter = 87,
    ErrDiskFull = 112,
    ErrInvalidName = 123,
    ErrDirNotEmpty = 145,
    ErrAlreadyExists = 183,
    ErrFilenameTooLong = 206,
    ErrFileTooLarge = 223,
    // The program's own: more lines than the caller takes. Bit 29 is the one Windows leaves to
    // applications, so no system error can ever be read as it.
    ErrTooManyLines = 0x20000001,
};

// Maps an errno value to the Windows number shown to the user.
int winErrorFromErrno(int e);

} // namespace platform
