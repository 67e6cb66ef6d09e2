// The file calls on Windows: wide-character names converted from UTF-8,
// handles, and the volume serial number with the file index as a file's
// identity.
#include <windows.h>

#include <cstring>

#include "util/files.h"
#include "util/win32_text.h"

namespace zaft {

namespace win32 {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                        nullptr);
  }
  return utf8;
}

std::string errorText(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Permission denied";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_WRITE_PROTECT:
      return "Read-only file system";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_DIRECTORY:
      return "Not a directory";
    case ERROR_INVALID_NAME:
      return "Invalid argument";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "Cannot allocate memory";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? narrow(std::wstring(text, n)) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "Windows error " + std::to_string(code) : message;
}

}  // namespace win32

namespace {

HANDLE handleOf(os::Handle file) { return reinterpret_cast<HANDLE>(file); }

FileIdentity identityFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{true, info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

PathStatus statusOf(const std::string& path) {
  if (path.empty()) return PathStatus{};
  // Backup semantics open folders too; the name is followed through links.
  HANDLE file = CreateFileW(win32::widen(path).c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return PathStatus{};
  BY_HANDLE_FILE_INFORMATION info;
  PathStatus status;
  if (GetFileInformationByHandle(file, &info)) {
    status.identity = identityFrom(info);
    status.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  CloseHandle(file);
  return status;
}

namespace os {

Handle createNew(const std::string& path, bool& exists, std::string& error) {
  // CREATE_NEW fails on any name already taken, and with
  // FILE_FLAG_OPEN_REPARSE_POINT a link there is not followed. Shared for
  // deleting only: the console's control handler removes the file while it
  // is still open (it goes when the process closes it).
  HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    error = win32::errorText(code);
    return kNoHandle;
  }
  exists = false;
  return reinterpret_cast<Handle>(file);
}

bool writeAll(Handle file, const uint8_t* data, size_t size, std::string& error) {
  while (size > 0) {
    const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handleOf(file), data, chunk, &written, nullptr) || written == 0) {
      error = win32::errorText(GetLastError());
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool closeFile(Handle file, std::string& error) {
  if (CloseHandle(handleOf(file))) return true;
  error = win32::errorText(GetLastError());
  return false;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
  // A link at `to` is replaced itself, as rename does on Linux.
  if (MoveFileExW(win32::widen(from).c_str(), win32::widen(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  error = win32::errorText(GetLastError());
  return false;
}

void removeFile(const std::string& path) { DeleteFileW(win32::widen(path).c_str()); }

// The console's control handler runs on a thread of its own, where
// allocating is safe.
void removeFileNow(const char* path) { removeFile(path); }

unsigned long processId() { return GetCurrentProcessId(); }

Handle openForReading(const std::string& path, InputInfo& info) {
  HANDLE file = CreateFileW(win32::widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoHandle;
  BY_HANDLE_FILE_INFORMATION about;
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_DISK && GetFileInformationByHandle(file, &about)) {
    info.folder = (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.folder;
    info.size = info.regular ? static_cast<int64_t>((uint64_t{about.nFileSizeHigh} << 32) |
                                                    about.nFileSizeLow)
                             : 0;
    info.identity = identityFrom(about);
  }
  return reinterpret_cast<Handle>(file);
}

int64_t readSome(Handle file, uint8_t* into, size_t size) {
  const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(handleOf(file), into, chunk, &got, nullptr)) {
    // A pipe whose writer has gone has simply ended.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return got;
}

const uint8_t* mapView(Handle file, size_t size) {
  HANDLE mapping = CreateFileMappingW(handleOf(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  // The view keeps the mapping alive once its handle is closed.
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  CloseHandle(mapping);
  return static_cast<const uint8_t*>(view);
}

void unmapView(const uint8_t* view, size_t) { UnmapViewOfFile(view); }

void closeInput(Handle file) { CloseHandle(handleOf(file)); }

}  // namespace os

}  // namespace zaft
