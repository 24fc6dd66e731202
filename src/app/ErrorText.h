#pragma once
// The texts pages and people read when a file operation fails. The system's
// own messages ("Read-only file system") and the C++ library's exception
// texts ("basic_filebuf::underflow error reading the file: Is a directory")
// are for programmers; every failure that reaches a page result is worded
// here, in one place, so the same cause always reads the same way.
#include <gio/gio.h>

#include <exception>
#include <string>

namespace corvane {

// The cause of a failed system call as a clause: "there is not enough space
// on the disk", "the disk is read-only", "the name is too long", ...
std::string reasonForErrno(int error);

// "<action> <path>: <reason>", e.g. "cannot save /home/me/a.txt: the disk
// is read-only".
std::string failureText(const std::string& action, const std::string& path, int error);

// The errno that stands for a GIO error (G_IO_ERROR_NO_SPACE is ENOSPC, and
// so on); 0 when the error names no such cause.
int errnoForGError(const GError* error);

// The cause of a GIO error as a clause: the errno's wording where there is
// one, otherwise GIO's own message.
std::string reasonForGError(const GError* error);

// The text for an exception caught on its way to a page. Our own exceptions
// carry sentences and pass through; system and file-system errors are worded
// by their cause; the library's stream, JSON, allocation and conversion
// failures become a plain sentence instead of their internal names.
std::string pageErrorText(const std::exception& e);

}  // namespace corvane
