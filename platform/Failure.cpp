// SPDX-License-Identifier: Apache-2.0
#include "platform/Failure.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace corvane {

std::string StandardErrorText(int32_t number) {
  switch (number) {
    case kInvalidCall:
      return "Invalid procedure call or argument";
    case kOverflow:
      return "Overflow";
    case kOutOfMemory:
      return "Out of memory";
    case kSubscriptOutOfRange:
      return "Subscript out of range";
    case kTypeMismatch:
      return "Type mismatch";
    case kErrorInLoadingDll:
      return "Error in loading DLL";
    case kBadFileName:
      return "Bad file name or number";
    case kFileNotFound:
      return "File not found";
    case kDeviceIoError:
      return "Device I/O error";
    case kFileAlreadyExists:
      return "File already exists";
    case kDiskFull:
      return "Disk full";
    case kTooManyFiles:
      return "Too many files";
    case kPathFileAccessError:
      return "Path/File access error";
    case kPathNotFound:
      return "Path not found";
    case kInvalidFileFormat:
      return "Invalid file format";
    case kObjectRequired:
      return "Object required";
    case kCannotCreateObject:
      return "Cannot create object";
    case kNoSuchMember:
      return "Object doesn't support this property or method";
    case kWrongArguments:
      return "Wrong number of arguments or invalid property assignment";
    case kDllFunctionNotFound:
      return "Specified DLL function not found";
    case kDuplicateKey:
      return "This key is already associated with an element of this "
             "collection";
    default:
      return "Application-defined or object-defined error";
  }
}

Failure StandardFailure(int32_t number) {
  return Failure(number, "", StandardErrorText(number));
}

int32_t ErrorNumberFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
    case ENOTEMPTY:
      return kPathFileAccessError;
    case EEXIST:
      return kFileAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    case EIO:
      return kDeviceIoError;
    case EMFILE:
    case ENFILE:
      return kTooManyFiles;
    case EBADF:
    case ENAMETOOLONG:
    case ELOOP:
      return kBadFileName;
    case EOVERFLOW:
      return kOverflow;
    case ENOMEM:
      return kOutOfMemory;
    default:
      return kInvalidCall;
  }
}

std::string SystemErrorText(int error) {
  // Unlike strerror, the untranslated text, safe to read from any thread.
  const char* text = ::strerrordesc_np(error);
  return text == nullptr ? std::string() : std::string(text);
}

Failure FailureFromErrno(int error, const std::string& detail) {
  Failure failure = StandardFailure(ErrorNumberFromErrno(error));
  if (!detail.empty()) failure.description += ": " + detail;
  failure.system_text = SystemErrorText(error);
  return failure;
}

Failure CurrentFailure(const std::string& source) {
  try {
    throw;
  } catch (Failure& failure) {
    if (failure.source.empty()) failure.source = source;
    return failure;
  } catch (const std::bad_alloc&) {
    Failure failure = StandardFailure(kOutOfMemory);
    failure.source = source;
    return failure;
  } catch (const std::exception& error) {
    return Failure(kInvalidCall, source, error.what());
  } catch (...) {
    Failure failure = StandardFailure(kInvalidCall);
    failure.source = source;
    return failure;
  }
}

}  // namespace corvane
