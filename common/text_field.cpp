#include "common/text_field.h"

#include <cstring>

using namespace platform;

void ClearTextField(TextField* field)
{
    std::memset(field->Text, 0, sizeof(field->Text));
}

DWORD BoundedTextLength(const WCHAR* text, DWORD limit)
{
    DWORD length = 0;
    while (length < limit && text[length] != 0) {
        ++length;
    }
    return length;
}

BOOL TextStartsWith(const WCHAR* text, const WCHAR* prefix)
{
    for (; *prefix != 0; ++prefix, ++text) {
        if (*text != *prefix) {
            return FALSE; // also stops at the end of a shorter text
        }
    }
    return TRUE;
}

BOOL TextContains(const WCHAR* text, const WCHAR* needle)
{
    for (; *text != 0; ++text) {
        if (TextStartsWith(text, needle)) {
            return TRUE;
        }
    }
    return *needle == 0;
}
