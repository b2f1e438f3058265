// The tool's headers first: the SDK's macros would replace the names of the
// boundary's constants.
#include "common/unicode.h"

#include "platform/win/win_files.h"

#include <algorithm>
#include <vector>

namespace winfiles {

std::string Narrow(const std::wstring& text)
{
    return EscapeControlCharacters(Utf16ToUtf8(reinterpret_cast<const platform::WCHAR*>(text.data()), text.size()));
}

std::string SystemText(DWORD error)
{
    wchar_t text[512] = {};
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                         nullptr, error, 0, text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L' ' || message.back() == L'\r' || message.back() == L'\n')) {
        message.pop_back();
    }
    return Narrow(message);
}

std::string Error(DWORD error)
{
    std::string text = SystemText(error);
    return "error " + std::to_string(error) + (text.empty() ? "" : " (" + text + ")");
}

std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    path.resize(length < path.size() ? length : 0);
    return WithoutPrefix(path);
}

std::wstring WithoutPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + path.substr(8);
    }
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

bool SamePath(const std::wstring& first, const std::wstring& second)
{
    return ::CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool CheckPath(const std::wstring& path, std::string* problem)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *problem = "is a link or another reparse point";
        return false;
    }
    return true;
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadAll(HANDLE file, long long maxBytes, std::string* bytes)
{
    LARGE_INTEGER size = {};
    LARGE_INTEGER start = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > maxBytes ||
        !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    bytes->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes->empty() || (::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                              read == bytes->size());
}

bool DeleteByHandle(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool RenameByHandle(HANDLE file, const std::wstring& path)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + (path.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    std::copy(path.begin(), path.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

} // namespace winfiles
